"""The few X11 requests the end-to-end tests need, through libX11 itself.

Reading window properties (title, owner, icons, process) and sending a close
request the way a window manager's close button does. No Python binding to
install: ctypes over the library that GTK already brings.
"""

import ctypes

_lib = ctypes.cdll.LoadLibrary("libX11.so.6")

Window = ctypes.c_ulong
Atom = ctypes.c_ulong

_lib.XOpenDisplay.restype = ctypes.c_void_p
_lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
_lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
_lib.XDefaultRootWindow.restype = Window
_lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
_lib.XInternAtom.restype = Atom
_lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
_lib.XFree.argtypes = [ctypes.c_void_p]
_lib.XFlush.argtypes = [ctypes.c_void_p]
_lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
_lib.XQueryTree.argtypes = [
    ctypes.c_void_p, Window, ctypes.POINTER(Window), ctypes.POINTER(Window),
    ctypes.POINTER(ctypes.POINTER(Window)), ctypes.POINTER(ctypes.c_uint)]
_lib.XGetWindowProperty.argtypes = [
    ctypes.c_void_p, Window, Atom, ctypes.c_long, ctypes.c_long, ctypes.c_int, Atom,
    ctypes.POINTER(Atom), ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
_lib.XSendEvent.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
_lib.XSetErrorHandler.restype = ctypes.c_void_p


class _Attributes(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
        ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
        ("visual", ctypes.c_void_p), ("root", Window), ("c_class", ctypes.c_int),
        ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
        ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
        ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
        ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
        ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
        ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
        ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


_lib.XGetWindowAttributes.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(_Attributes)]


class _ClientMessage(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p), ("window", Window), ("message_type", Atom),
        ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _Event(ctypes.Union):
    _fields_ = [("client", _ClientMessage), ("pad", ctypes.c_long * 24)]


_CLIENT_MESSAGE = 33
_IS_VIEWABLE = 2

# Windows vanish while the tests look at them: a request about a window that
# is gone must not end the test process, as libX11's default handler would.
_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(
    lambda display, event: 0)
_lib.XSetErrorHandler(_ERROR_HANDLER)


class Display:
    def __init__(self):
        self._d = _lib.XOpenDisplay(None)
        if not self._d:
            raise RuntimeError("no X display")
        self._root = _lib.XDefaultRootWindow(self._d)

    def close(self):
        _lib.XCloseDisplay(self._d)

    def atom(self, name):
        return _lib.XInternAtom(self._d, name.encode(), 0)

    def _property(self, window, name):
        """(format, list of items) or None; 32-bit items come as C longs."""
        actual_type, actual_format = Atom(), ctypes.c_int()
        count, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        status = _lib.XGetWindowProperty(
            self._d, window, self.atom(name), 0, 1 << 20, 0, 0, ctypes.byref(actual_type),
            ctypes.byref(actual_format), ctypes.byref(count), ctypes.byref(after),
            ctypes.byref(data))
        if status != 0 or not data.value:
            return None
        try:
            if actual_format.value == 8:
                return bytes((ctypes.c_ubyte * count.value).from_address(data.value))
            if actual_format.value == 32:
                return list((ctypes.c_ulong * count.value).from_address(data.value))
            return None
        finally:
            _lib.XFree(data)

    def toplevels(self):
        root, parent = Window(), Window()
        children, count = ctypes.POINTER(Window)(), ctypes.c_uint()
        _lib.XQueryTree(self._d, self._root, ctypes.byref(root), ctypes.byref(parent),
                        ctypes.byref(children), ctypes.byref(count))
        windows = [children[i] for i in range(count.value)]
        if children:
            _lib.XFree(children)
        return windows

    def geometry(self, window):
        a = _Attributes()
        if not _lib.XGetWindowAttributes(self._d, window, ctypes.byref(a)):
            return None
        return a.x, a.y, a.width, a.height

    def screen_geometry(self):
        return self.geometry(self._root)

    def viewable(self, window):
        a = _Attributes()
        return bool(_lib.XGetWindowAttributes(self._d, window, ctypes.byref(a))) and \
            a.map_state == _IS_VIEWABLE

    def pid(self, window):
        value = self._property(window, "_NET_WM_PID")
        return value[0] if value else None

    def title(self, window):
        value = self._property(window, "_NET_WM_NAME")
        return value.decode("utf-8") if isinstance(value, bytes) else None

    def transient_for(self, window):
        value = self._property(window, "WM_TRANSIENT_FOR")
        return value[0] if value else None

    def window_types(self, window):
        return [self.atom_name(a) for a in self._property(window, "_NET_WM_WINDOW_TYPE") or []]

    def atom_name(self, atom):
        _lib.XGetAtomName.restype = ctypes.c_void_p
        _lib.XGetAtomName.argtypes = [ctypes.c_void_p, Atom]
        pointer = _lib.XGetAtomName(self._d, atom)
        name = ctypes.string_at(pointer).decode()
        _lib.XFree(pointer)
        return name

    def icon_sizes(self, window):
        """Sizes of the images in the window's icon list, as (width, height)."""
        data = self._property(window, "_NET_WM_ICON") or []
        sizes, i = [], 0
        while i + 1 < len(data):
            width, height = data[i], data[i + 1]
            sizes.append((width, height))
            i += 2 + width * height
        return sizes

    def normal_hints_size_range(self, window):
        """(min width, min height, max width, max height) from WM_NORMAL_HINTS."""
        hints = self._property(window, "WM_NORMAL_HINTS")
        if not hints or len(hints) < 9:
            return None
        return hints[5], hints[6], hints[7], hints[8]

    def visible_windows_of(self, pid):
        return [w for w in self.toplevels() if self.viewable(w) and self.pid(w) == pid]

    def request_close(self, window):
        """What a window manager's close button sends: WM_DELETE_WINDOW."""
        event = _Event()
        event.client.type = _CLIENT_MESSAGE
        event.client.window = window
        event.client.message_type = self.atom("WM_PROTOCOLS")
        event.client.format = 32
        event.client.data[0] = self.atom("WM_DELETE_WINDOW")
        event.client.data[1] = 0  # CurrentTime
        _lib.XSendEvent(self._d, window, 0, 0, ctypes.byref(event))
        _lib.XSync(self._d, 0)
