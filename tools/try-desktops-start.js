// Chooses Start > Start Listening in Ringwarden's settings window through
// the accessibility bus, the one way into a window that works alike on
// every compositor and platform (KWin offers no virtual keyboard).
// Ringwarden must run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.
const { Atspi } = imports.gi;
Atspi.init();

function find(node, wanted, depth) {
    if (!node || depth > 12)
        return null;
    if (wanted(node))
        return node;
    for (let i = 0; i < node.get_child_count(); i++) {
        const found = find(node.get_child_at_index(i), wanted, depth + 1);
        if (found)
            return found;
    }
    return null;
}

// The program registers with the accessibility bus a moment after its
// window shows: asked again for up to ten seconds.
let item = null;
for (let tries = 0; tries < 20 && !item; tries++) {
    const desktop = Atspi.get_desktop(0);
    for (let i = 0; i < desktop.get_child_count() && !item; i++) {
        const app = desktop.get_child_at_index(i);
        if (app && app.get_name() === 'ringwarden')
            item = find(app, (n) => n.get_name().replace('&', '') === 'Start Listening', 0);
    }
    if (!item)
        imports.gi.GLib.usleep(500000);
}
if (!item) {
    print('Start Listening not found');
    imports.system.exit(1);
}
const action = item.get_action_iface();
print('pressing ' + item.get_name() + ' (' + action.get_action_name(0) + ')');
action.do_action(0);
