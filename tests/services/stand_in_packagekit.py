#!/usr/bin/python3
# A stand-in for PackageKit on a test's private bus (DBUS_SYSTEM_BUS_ADDRESS).
# argv[1]: how InstallFiles ends (installs, refuses, vanishes); argv[2]: the
# file each InstallFiles call is recorded in, with the sha256 of the file then.
import hashlib
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

TRANSACTION = 'org.freedesktop.PackageKit.Transaction'


class Transaction(dbus.service.Object):
    @dbus.service.method(TRANSACTION, 'as', '')
    def SetHints(self, hints):
        pass

    @dbus.service.method(TRANSACTION, 'tas', '')
    def InstallFiles(self, flags, files):
        with open(sys.argv[2], 'a') as record:
            for path in files:
                digest = hashlib.sha256(open(path, 'rb').read()).hexdigest()
                record.write('InstallFiles %d %s %s\n' % (flags, path, digest))
        GLib.timeout_add(50, self.end)  # after the method returns

    def end(self):
        if sys.argv[1] == 'vanishes':
            os._exit(0)
        if sys.argv[1] == 'refuses':
            self.ErrorCode(dbus.UInt32(4), 'Not authorized')
        self.Finished(dbus.UInt32(1 if sys.argv[1] == 'installs' else 2), dbus.UInt32(5))

    @dbus.service.signal(TRANSACTION, 'us')
    def ErrorCode(self, code, details):
        pass

    @dbus.service.signal(TRANSACTION, 'uu')
    def Finished(self, exit, runtime):
        pass


class PackageKit(dbus.service.Object):
    @dbus.service.method('org.freedesktop.PackageKit', '', 'o')
    def CreateTransaction(self):
        Transaction(bus, '/1')
        return dbus.ObjectPath('/1')


DBusGMainLoop(set_as_default=True)
bus = dbus.SystemBus()
service = PackageKit(bus, '/org/freedesktop/PackageKit')
name = dbus.service.BusName('org.freedesktop.PackageKit', bus)
print('ready', flush=True)
GLib.MainLoop().run()
