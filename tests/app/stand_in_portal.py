#!/usr/bin/python3
# A stand-in for the XDG desktop portal's GlobalShortcuts on a test's private
# session bus. argv[1]: the response BindShortcuts gives (0 bound, 1 refused by
# the user, 2 failed). The test drives it through com.tavlabs.halvo.test.Portal.
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

PORTAL = '/org/freedesktop/portal/desktop'
SHORTCUTS = 'org.freedesktop.portal.GlobalShortcuts'
TEST = 'com.tavlabs.halvo.test.Portal'


def object_path(kind, sender, token):
    return '%s/%s/%s/%s' % (PORTAL, kind, sender[1:].replace('.', '_'), token)


def signal(path, interface, name, *args):
    message = dbus.lowlevel.SignalMessage(path, interface, name)
    message.append(*args)
    return message


class Portal(dbus.service.Object):
    def __init__(self, bus, bind_response):
        super().__init__(bus, PORTAL)
        self.bus, self.bind_response = bus, bind_response
        self.session, self.shortcuts = '', []

    def respond(self, sender, options, response, results):
        path = object_path('request', sender, options['handle_token'])
        message = signal(path, 'org.freedesktop.portal.Request', 'Response',
                         dbus.UInt32(response), dbus.Dictionary(results, signature='sv'))
        GLib.idle_add(lambda: self.bus.send_message(message) and False)
        return dbus.ObjectPath(path)

    @dbus.service.method(SHORTCUTS, 'a{sv}', 'o', sender_keyword='sender')
    def CreateSession(self, options, sender):
        self.session = object_path('session', sender, options['session_handle_token'])
        return self.respond(sender, options, 0, {'session_handle': self.session})

    @dbus.service.method(SHORTCUTS, 'oa(sa{sv})sa{sv}', 'o', sender_keyword='sender')
    def BindShortcuts(self, session, shortcuts, parent_window, options, sender):
        self.shortcuts = ['%s %s' % (i, p.get('preferred_trigger', '')) for i, p in shortcuts]
        return self.respond(sender, options, self.bind_response, {})

    @dbus.service.signal(SHORTCUTS, 'osta{sv}')
    def Activated(self, session, shortcut_id, timestamp, options):
        pass

    @dbus.service.method(TEST, '', 'as')
    def BoundShortcuts(self):
        return self.shortcuts

    @dbus.service.method(TEST, 's', '')
    def Press(self, shortcut_id):
        self.Activated(self.session, shortcut_id, 0, {})

    @dbus.service.method(TEST, '', '')
    def CloseSession(self):
        self.bus.send_message(signal(self.session, 'org.freedesktop.portal.Session', 'Closed',
                                     dbus.Dictionary({}, signature='sv')))


DBusGMainLoop(set_as_default=True)
session_bus = dbus.SessionBus()
portal = Portal(session_bus, int(sys.argv[1]))
name = dbus.service.BusName('org.freedesktop.portal.Desktop', session_bus)
GLib.MainLoop().run()
