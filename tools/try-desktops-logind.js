// A stand-in for logind on try-desktops' private system bus: one user
// session that is active and not locked, enough for GNOME Shell to start
// and for Ringwarden to learn that the screen is not locked.
const { Gio, GLib } = imports.gi;

const managerXml = `<node><interface name="org.freedesktop.login1.Manager">
<method name="GetSession"><arg type="s" direction="in"/><arg type="o" direction="out"/></method>
<method name="GetSessionByPID"><arg type="u" direction="in"/><arg type="o" direction="out"/></method>
<method name="GetUser"><arg type="u" direction="in"/><arg type="o" direction="out"/></method>
<method name="ListSessions"><arg type="a(susso)" direction="out"/></method>
<method name="CanSuspend"><arg type="s" direction="out"/></method>
<method name="CanHibernate"><arg type="s" direction="out"/></method>
<method name="CanPowerOff"><arg type="s" direction="out"/></method>
<method name="CanReboot"><arg type="s" direction="out"/></method>
<signal name="PrepareForSleep"><arg type="b"/></signal>
<signal name="PrepareForShutdown"><arg type="b"/></signal>
</interface></node>`;
const sessionXml = `<node><interface name="org.freedesktop.login1.Session">
<property name="Id" type="s" access="read"/>
<property name="Active" type="b" access="read"/>
<property name="LockedHint" type="b" access="read"/>
<property name="Remote" type="b" access="read"/>
<property name="Class" type="s" access="read"/>
<property name="Type" type="s" access="read"/>
<property name="State" type="s" access="read"/>
<property name="Name" type="s" access="read"/>
<property name="Seat" type="(so)" access="read"/>
<property name="User" type="(uo)" access="read"/>
<method name="SetLockedHint"><arg type="b" direction="in"/></method>
<method name="SetIdleHint"><arg type="b" direction="in"/></method>
<method name="Activate"/>
<method name="TakeControl"><arg type="b" direction="in"/></method>
<signal name="Lock"/><signal name="Unlock"/>
</interface></node>`;
const userXml = `<node><interface name="org.freedesktop.login1.User">
<property name="Display" type="(so)" access="read"/>
<property name="Sessions" type="a(so)" access="read"/>
</interface></node>`;

const sessionPath = '/org/freedesktop/login1/session/_31';
const userPath = '/org/freedesktop/login1/user/_0';
const uid = Number(GLib.getenv('TRY_UID') || '0');

const manager = {
    GetSession(id) { return sessionPath; },
    GetSessionByPID(pid) { return sessionPath; },
    GetUser(u) { return userPath; },
    ListSessions() { return [['1', uid, 'user', 'seat0', sessionPath]]; },
    CanSuspend() { return 'no'; }, CanHibernate() { return 'no'; },
    CanPowerOff() { return 'no'; }, CanReboot() { return 'no'; },
};
const session = {
    Id: '1', Active: true, LockedHint: false, Remote: false, Class: 'user', Type: 'wayland',
    State: 'active', Name: 'user', Seat: ['seat0', '/org/freedesktop/login1/seat/seat0'],
    User: [uid, userPath],
    SetLockedHint(b) { this.LockedHint = b; }, SetIdleHint(b) {}, Activate() {}, TakeControl(b) {},
};
const user = { Display: ['1', sessionPath], Sessions: [['1', sessionPath]] };

const exported = [];
Gio.bus_own_name(Gio.BusType.SYSTEM, 'org.freedesktop.login1', Gio.BusNameOwnerFlags.NONE,
    (connection) => {
        for (const [xml, object, paths] of [[managerXml, manager, ['/org/freedesktop/login1']],
            [sessionXml, session, [sessionPath, '/org/freedesktop/login1/session/auto']],
            [userXml, user, [userPath]]]) {
            for (const path of paths) {
                const skeleton = Gio.DBusExportedObject.wrapJSObject(xml, object);
                skeleton.export(connection, path);
                exported.push(skeleton);
            }
        }
        print('logind stand-in ready');
    }, null, () => print('logind stand-in: name lost'));
new GLib.MainLoop(null, false).run();
