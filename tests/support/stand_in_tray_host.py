#!/usr/bin/python3
# A stand-in StatusNotifierWatcher with a registered host, on the private bus
# of scripts/desktop-session --tray-host: applications register their tray
# items here. A test reads the newest item's menu (com.canonical.dbusmenu) and
# clicks it through com.tavlabs.halvo.test.Host.
import hashlib
import json

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = 'org.kde.StatusNotifierWatcher'
ITEM = 'org.kde.StatusNotifierItem'
MENU = 'com.canonical.dbusmenu'
PROPERTIES = 'org.freedesktop.DBus.Properties'
HOST = 'com.tavlabs.halvo.test.Host'

# Qt reads the watcher's properties through an introspected interface.
INTROSPECTION = '''<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>
   <arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
</node>'''


def plain(value):
    """dbus-python values as JSON-ready ones (its numbers and strings already are)."""
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, dbus.Array) and value.signature == 'y':
        return len(value)  # icon data: its size will do
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    return value


def node(layout):
    ident, properties, children = layout
    entry = {'id': int(ident)}
    entry.update({str(k): plain(v) for k, v in properties.items()})
    entry['children'] = [node(child) for child in children]
    return entry


class Watcher(dbus.service.Object):
    def __init__(self):
        super().__init__(bus, '/StatusNotifierWatcher')
        self.items = []

    @dbus.service.method('org.freedesktop.DBus.Introspectable', out_signature='s')
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(WATCHER, in_signature='s', sender_keyword='sender')
    def RegisterStatusNotifierItem(self, service, sender=None):
        service = service if service.startswith(('org.', ':')) else sender
        self.items.append(str(service))
        self.StatusNotifierItemRegistered(service)

    @dbus.service.signal(WATCHER, signature='s')
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.method(PROPERTIES, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(PROPERTIES, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return {'RegisteredStatusNotifierItems': dbus.Array(self.live(), signature='s'),
                'IsStatusNotifierHostRegistered': True,
                'ProtocolVersion': dbus.Int32(0)}

    def live(self):
        return [s for s in self.items if bus.name_has_owner(s)]

    def menu(self):
        service = self.live()[-1]
        item = bus.get_object(service, '/StatusNotifierItem')
        path = item.Get(ITEM, 'Menu', dbus_interface=PROPERTIES)
        return bus.get_object(service, path)

    @dbus.service.method(HOST, out_signature='as')
    def ItemProcesses(self):
        """The process IDs of the registered items' owners."""
        daemon = bus.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus')
        return [str(daemon.GetConnectionUnixProcessID(s)) for s in self.live()]

    @dbus.service.method(HOST, out_signature='s')
    def Layout(self):
        revision, layout = self.menu().GetLayout(0, -1, dbus.Array([], signature='s'),
                                                 dbus_interface=MENU)
        return json.dumps(node(layout))

    @dbus.service.method(HOST, out_signature='s')
    def Icon(self):
        """A digest of the item's icon pixmaps that tells two icons apart; empty without any."""
        item = bus.get_object(self.live()[-1], '/StatusNotifierItem')
        pixmaps = item.Get(ITEM, 'IconPixmap', dbus_interface=PROPERTIES)
        data = b''.join(bytes(pixmap[2]) for pixmap in pixmaps)
        return hashlib.sha256(data).hexdigest() if data else ''

    @dbus.service.method(HOST, out_signature='s')
    def ToolTip(self):
        # The title of the item's tool tip, which tells a tray's user what it is.
        item = bus.get_object(self.live()[-1], '/StatusNotifierItem')
        return item.Get(ITEM, 'ToolTip', dbus_interface=PROPERTIES)[2]

    @dbus.service.method(HOST, in_signature='i')
    def Click(self, ident):
        self.menu().Event(ident, 'clicked', dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                          dbus_interface=MENU)


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
watcher = Watcher()
name = dbus.service.BusName(WATCHER, bus)
print('ready', flush=True)
GLib.MainLoop().run()
