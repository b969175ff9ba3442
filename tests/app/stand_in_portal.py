#!/usr/bin/python3
# A stand-in for the XDG desktop portal's GlobalShortcuts and Settings on a
# test's private bus. argv[1]: how BindShortcuts answers (0 bound, 1 refused by
# the user, 2 failed), after argv[2] milliseconds (0 when absent); a shortcut
# other than open-kill-panel on SHIFT+LOGO+k always fails. The color-scheme
# setting starts at 0 (no preference). The test drives the user's side through
# com.tavlabs.halvo.test.Portal.
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

PORTAL = '/org/freedesktop/portal/desktop'
SHORTCUTS = 'org.freedesktop.portal.GlobalShortcuts'


def send(path, interface, name, *args, delay=0):
    message = dbus.lowlevel.SignalMessage(path, interface, name)
    message.append(*args)
    # After the method returns.
    GLib.timeout_add(delay, lambda: bus.send_message(message) and False)


class Portal(dbus.service.Object):
    session = ''
    scheme = 0

    def respond(self, kind, sender, token, response, results, delay=0):
        path = '%s/%s/%s/%s' % (PORTAL, kind, sender[1:].replace('.', '_'), token)
        if kind == 'request':
            send(path, 'org.freedesktop.portal.Request', 'Response', dbus.UInt32(response),
                 dbus.Dictionary(results, signature='sv'), delay=delay)
        return dbus.ObjectPath(path)

    @dbus.service.method(SHORTCUTS, 'a{sv}', 'o', sender_keyword='sender')
    def CreateSession(self, options, sender):
        self.session = self.respond('session', sender, options['session_handle_token'], 0, {})
        return self.respond('request', sender, options['handle_token'], 0,
                            {'session_handle': self.session})

    @dbus.service.method(SHORTCUTS, 'oa(sa{sv})sa{sv}', 'o', sender_keyword='sender')
    def BindShortcuts(self, session, shortcuts, parent_window, options, sender):
        wanted = [('open-kill-panel', 'SHIFT+LOGO+k')]
        asked = [(i, p.get('preferred_trigger')) for i, p in shortcuts]
        response = int(sys.argv[1]) if asked == wanted and session == self.session else 2
        return self.respond('request', sender, options['handle_token'], response, {},
                            int(sys.argv[2]) if len(sys.argv) > 2 else 0)

    @dbus.service.signal(SHORTCUTS, 'osta{sv}')
    def Activated(self, session, shortcut_id, timestamp, options):
        pass

    # org.freedesktop.appearance color-scheme, the one setting there is here.
    @dbus.service.method('org.freedesktop.portal.Settings', 'ss', 'v')
    def Read(self, namespace, key):
        return dbus.UInt32(self.scheme, variant_level=2)  # a variant in the variant, as Read gives

    @dbus.service.method('com.tavlabs.halvo.test.Portal', 'u')
    def SetColorScheme(self, scheme):
        self.scheme = scheme
        send(PORTAL, 'org.freedesktop.portal.Settings', 'SettingChanged',
             'org.freedesktop.appearance', 'color-scheme', dbus.UInt32(scheme, variant_level=1))

    @dbus.service.method('com.tavlabs.halvo.test.Portal')
    def PressThenClose(self):
        for shortcut_id in ['another-shortcut', 'open-kill-panel']:
            self.Activated(self.session, shortcut_id, 0, {})
        send(self.session, 'org.freedesktop.portal.Session', 'Closed',
             dbus.Dictionary({}, signature='sv'))


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
portal = Portal(bus, PORTAL)
name = dbus.service.BusName('org.freedesktop.portal.Desktop', bus)
GLib.MainLoop().run()
