#!/usr/bin/python3
# A stand-in for the XDG desktop portal's GlobalShortcuts on a test's private bus.
# argv[1]: how BindShortcuts answers (0 bound, 1 refused by the user, 2 failed);
# a shortcut other than open-kill-panel on SHIFT+LOGO+k always fails. The test
# drives the user's side through com.tavlabs.halvo.test.Portal.
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

PORTAL = '/org/freedesktop/portal/desktop'
SHORTCUTS = 'org.freedesktop.portal.GlobalShortcuts'


def send(path, interface, name, *args):
    message = dbus.lowlevel.SignalMessage(path, interface, name)
    message.append(*args)
    GLib.idle_add(lambda: bus.send_message(message) and False)  # after the method returns


class Portal(dbus.service.Object):
    session = ''

    def respond(self, kind, sender, token, response, results):
        path = '%s/%s/%s/%s' % (PORTAL, kind, sender[1:].replace('.', '_'), token)
        if kind == 'request':
            send(path, 'org.freedesktop.portal.Request', 'Response', dbus.UInt32(response),
                 dbus.Dictionary(results, signature='sv'))
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
        return self.respond('request', sender, options['handle_token'], response, {})

    @dbus.service.signal(SHORTCUTS, 'osta{sv}')
    def Activated(self, session, shortcut_id, timestamp, options):
        pass

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
