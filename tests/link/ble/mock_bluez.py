#!/usr/bin/env python3
"""A BlueZ stand-in on the bus DBUS_SYSTEM_BUS_ADDRESS names: one adapter
(hci0) that, once discovering, hears an OBD dongle and a heart-rate sensor.
The dongle's write characteristic feeds an elm327-emulator over TCP; its
answers come back as notifications of PIECE bytes, cut wherever they fall.

    mock_bluez.py EMULATOR_PORT LAYOUT [--piece N] [--pairing] [--busy] [--vanish-after N]
                                       [--no-adapter]
"""
import argparse
import os
import socket

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

BLUEZ = "org.bluez"
PROPS = "org.freedesktop.DBus.Properties"
DONGLE = "AA:BB:CC:DD:EE:01"
SENSOR = "AA:BB:CC:DD:EE:02"
# Service: [(characteristic, flags)] as the dongles on sale have them.
LAYOUTS = {
    "FFF0": [("FFF1", ["notify"]), ("FFF2", ["write-without-response", "write"])],
    "FFE0": [("FFE1", ["read", "write-without-response", "notify"])],
    "18F0": [("2AF0", ["notify"]), ("2AF1", ["write"])],
    "E7810A71-73AE-499D-8C15-FAA9AEF0C3F2": [("BEF8D6C9-9C21-4C9E-B632-BD58C1009F9F",
                                             ["read", "write", "notify"])],
    # Nordic's UART service: no known layout, so the first notifying and writable.
    "6E400001-B5A3-F393-E0A9-E50E24DCCA9E": [("6E400003-B5A3-F393-E0A9-E50E24DCCA9E", ["notify"]),
                                             ("6E400002-B5A3-F393-E0A9-E50E24DCCA9E", ["write"])],
}


def uuid(short):
    return ("0000%s-0000-1000-8000-00805f9b34fb" % short if len(short) == 4 else short).lower()


class Error(dbus.DBusException):
    def __init__(self, name, text):
        super().__init__(text)
        self._dbus_error_name = "org.bluez.Error." + name


class Object(dbus.service.Object):
    """An object with properties of one interface, announced on the tree."""

    def __init__(self, root, path, interface, props):
        super().__init__(root.bus, path)
        self.root, self.path, self.interface, self.props = root, path, interface, props
        root.objects[path] = self
        root.InterfacesAdded(path, {interface: props})

    def set(self, **changed):
        self.props.update(changed)
        self.PropertiesChanged(self.interface, changed, [])

    def remove(self):
        del self.root.objects[self.path]
        self.root.InterfacesRemoved(self.path, [self.interface])
        self.remove_from_connection()

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.props[name]

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.props

    @dbus.service.signal(PROPS, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass


class Characteristic(Object):
    def __init__(self, root, path, service, short, flags):
        super().__init__(root, path, BLUEZ + ".GattCharacteristic1",
                         {"UUID": uuid(short), "Service": dbus.ObjectPath(service),
                          "Flags": dbus.Array(flags, signature="s"),
                          "Value": dbus.Array([], signature="y")})

    @dbus.service.method(BLUEZ + ".GattCharacteristic1", in_signature="", out_signature="")
    def StartNotify(self):
        if self.root.args.pairing:
            raise Error("NotPermitted", "Insufficient authentication")
        self.root.listener = self

    @dbus.service.method(BLUEZ + ".GattCharacteristic1", in_signature="", out_signature="")
    def StopNotify(self):
        pass

    @dbus.service.method(BLUEZ + ".GattCharacteristic1", in_signature="aya{sv}", out_signature="")
    def WriteValue(self, value, options):
        kind = options.get("type", "request")
        if len(value) > 20 or (kind == "request") != ("write" in self.props["Flags"]):
            raise Error("InvalidValueLength" if len(value) > 20 else "NotSupported", kind)
        self.root.write(bytes(value))


class Device(Object):
    def __init__(self, root, address, name, rssi, services):
        path = "/org/bluez/hci0/dev_" + address.replace(":", "_")
        super().__init__(root, path, BLUEZ + ".Device1",
                         {"Address": address, "Name": name, "Alias": name, "RSSI": dbus.Int16(rssi),
                          "Adapter": dbus.ObjectPath("/org/bluez/hci0"), "Connected": False,
                          "ServicesResolved": False,
                          "UUIDs": dbus.Array([uuid(s) for s in services], signature="s")})
        self.services, self.gatt = services, []

    @dbus.service.method(BLUEZ + ".Device1", in_signature="", out_signature="")
    def Connect(self):
        if self.root.args.busy:
            raise Error("InProgress", "In Progress")
        self.root.link = socket.create_connection(("127.0.0.1", self.root.args.port))
        GLib.io_add_watch(self.root.link.fileno(), GLib.IO_IN | GLib.IO_HUP, self.root.answer)
        # A decoy first that writes and notifies: a known layout must win over it.
        decoy = {"ABCD": [("ABCE", ["write", "notify"])]} if self.root.args.layout in LAYOUTS else {}
        handle = 8
        for service, characteristics in list(decoy.items()) + [(s, LAYOUTS.get(s, [])) for s in self.services]:
            spath = "%s/service%04x" % (self.path, handle)
            self.gatt.append(Object(self.root, spath, BLUEZ + ".GattService1",
                                    {"UUID": uuid(service), "Device": dbus.ObjectPath(self.path)}))
            for short, flags in characteristics:
                handle += 2
                self.gatt.append(Characteristic(self.root, "%s/char%04x" % (spath, handle),
                                                spath, short, flags))
            handle += 4
        self.set(Connected=True)
        self.set(ServicesResolved=True)

    @dbus.service.method(BLUEZ + ".Device1", in_signature="", out_signature="")
    def Disconnect(self):
        self.set(Connected=False)


class Root(dbus.service.Object):
    def __init__(self, bus, args):
        super().__init__(bus, "/")
        self.bus, self.args, self.objects = bus, args, {}
        self.listener, self.link, self.writes = None, None, 0
        self.transport = None
        if not args.no_adapter:
            Adapter(self)

    def write(self, data):
        self.writes += 1
        if self.args.vanish_after and self.writes > self.args.vanish_after:
            self.dongle.set(Connected=False)
            for item in self.dongle.gatt + [self.dongle]:
                item.remove()
            return
        self.link.sendall(data)

    def answer(self, fd, condition):
        data = self.link.recv(4096)
        for at in range(0, len(data), self.args.piece):
            if self.listener:
                self.listener.set(Value=dbus.Array(data[at:at + self.args.piece], signature="y"))
        return bool(data)

    def discover(self):
        if not self.objects.get("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01"):
            self.dongle = Device(self, DONGLE, "OBDII", -58, [self.args.layout])
            Device(self, SENSOR, "Polar H10", -80, ["180D"])

    @dbus.service.method("org.freedesktop.DBus.ObjectManager", out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        return {path: {o.interface: o.props} for path, o in self.objects.items()}

    @dbus.service.signal("org.freedesktop.DBus.ObjectManager", signature="oa{sa{sv}}")
    def InterfacesAdded(self, path, interfaces):
        pass

    @dbus.service.signal("org.freedesktop.DBus.ObjectManager", signature="oas")
    def InterfacesRemoved(self, path, interfaces):
        pass


class Adapter(Object):
    def __init__(self, root):
        super().__init__(root, "/org/bluez/hci0", BLUEZ + ".Adapter1",
                         {"Address": "00:11:22:33:44:55", "Powered": True})

    @dbus.service.method(BLUEZ + ".Adapter1", in_signature="a{sv}", out_signature="")
    def SetDiscoveryFilter(self, options):
        self.root.transport = str(options.get("Transport"))

    @dbus.service.method(BLUEZ + ".Adapter1", in_signature="", out_signature="")
    def StartDiscovery(self):
        if self.root.transport == "le":  # only an LE filter finds LE-only dongles
            GLib.timeout_add(300, lambda: self.root.discover() and False)

    @dbus.service.method(BLUEZ + ".Adapter1", in_signature="", out_signature="")
    def StopDiscovery(self):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("layout")
    parser.add_argument("--piece", type=int, default=20)
    parser.add_argument("--pairing", action="store_true")
    parser.add_argument("--busy", action="store_true")
    parser.add_argument("--vanish-after", type=int, default=0)
    parser.add_argument("--no-adapter", action="store_true")
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(os.environ["DBUS_SYSTEM_BUS_ADDRESS"])
    Root(bus, parser.parse_args())
    name = dbus.service.BusName(BLUEZ, bus)
    print("ready", flush=True)
    GLib.MainLoop().run()
    del name


if __name__ == "__main__":
    main()
