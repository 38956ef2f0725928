// Chooses an item of Ringwarden's status icon menu as a panel's tray does
// (GNOME's AppIndicator extension, Plasma): the item's "clicked" event sent
// over the icon's DBusMenu. The label is the argument.
//
//   gjs tools/try-desktops-tray.js 'Show the Alert window'
const { Gio, GLib } = imports.gi;
const [wanted] = ARGV;
const bus = Gio.DBus.session;

function call(dest, path, iface, method, args, type) {
    return bus.call_sync(dest, path, iface, method, args, type ? new GLib.VariantType(type) : null,
        Gio.DBusCallFlags.NONE, 5000, null).deepUnpack();
}

// The watcher knows the icons as "bus name/path", "bus name@path"
// (GNOME's extension) or a bus name alone.
const [items] = call('org.kde.StatusNotifierWatcher', '/StatusNotifierWatcher',
    'org.freedesktop.DBus.Properties', 'Get',
    new GLib.Variant('(ss)', ['org.kde.StatusNotifierWatcher', 'RegisteredStatusNotifierItems']),
    '(v)');
const registered = items.deepUnpack();
print('status icons: ' + JSON.stringify(registered));
let done = false;
for (const entry of registered) {
    const split = entry.search(/[@/]/);
    const dest = split < 0 ? entry : entry.slice(0, split);
    const path = split < 0 ? '/StatusNotifierItem' : entry.slice(split).replace(/^@/, '');
    const [menu] = call(dest, path, 'org.freedesktop.DBus.Properties', 'Get',
        new GLib.Variant('(ss)', ['org.kde.StatusNotifierItem', 'Menu']), '(v)');
    const menuPath = menu.deepUnpack();
    const [, layout] = call(dest, menuPath, 'com.canonical.dbusmenu', 'GetLayout',
        new GLib.Variant('(iias)', [0, -1, []]), '(u(ia{sv}av))');
    const [, , children] = layout;
    for (const child of children) {
        const [id, properties] = child.deepUnpack();
        const label = properties.label ? properties.label.deepUnpack().replace(/&/g, '') : '';
        if (label !== wanted)
            continue;
        print('clicking "' + label + '" (item ' + id + ' of ' + dest + menuPath + ')');
        call(dest, menuPath, 'com.canonical.dbusmenu', 'Event',
            new GLib.Variant('(isvu)', [id, 'clicked', new GLib.Variant('i', 0), 0]), null);
        done = true;
    }
}
if (!done) {
    print('no item "' + wanted + '" in a status icon menu');
    imports.system.exit(1);
}
