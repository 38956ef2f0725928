// The user's work for try-desktops: a window titled "terminal" with a text
// area that has the keyboard, a native Wayland client (GTK 4).
imports.gi.versions.Gtk = '4.0';
const { Gtk } = imports.gi;

const app = new Gtk.Application({ application_id: 'org.ringwarden.TryTerminal' });
app.connect('activate', () => {
    const window = new Gtk.ApplicationWindow({ application: app, title: 'terminal',
        default_width: 700, default_height: 400 });
    const view = new Gtk.TextView({ monospace: true });
    view.buffer.text = 'the user works here\n';
    window.set_child(view);
    window.present();
    view.grab_focus();
});
app.run([]);
