#!/usr/bin/python3
# A stand-in for the desktop's notification service on a test's private bus:
# prints each Notify call as one JSON line ({"id", "summary", "body",
# "actions"}); com.tavlabs.halvo.test.Notifications.Click(id) invokes a
# notification's default action, as a click on it does.
import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NOTIFICATIONS = 'org.freedesktop.Notifications'


class Service(dbus.service.Object):
    last = 0

    @dbus.service.method(NOTIFICATIONS, 'susssasa{sv}i', 'u')
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.last += 1
        print(json.dumps({'id': self.last, 'summary': summary, 'body': body,
                          'actions': list(actions)}), flush=True)
        return self.last

    @dbus.service.method(NOTIFICATIONS, '', 'as')
    def GetCapabilities(self):
        return ['actions', 'body']

    @dbus.service.signal(NOTIFICATIONS, 'us')
    def ActionInvoked(self, id, action):
        pass

    @dbus.service.method('com.tavlabs.halvo.test.Notifications', 'u', '')
    def Click(self, id):
        self.ActionInvoked(id, 'default')


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
service = Service(bus, '/org/freedesktop/Notifications')
name = dbus.service.BusName(NOTIFICATIONS, bus)
print('ready', flush=True)
GLib.MainLoop().run()
