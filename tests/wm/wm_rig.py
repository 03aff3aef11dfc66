#!/usr/bin/env python3
"""Runs the real twinfold on a private Xvfb display under openbox and checks what the
window manager sees: frame extents, WM_STATE, _NET_WM_STATE, positions and the saved
settings. Input goes through xdotool, as a user's would.

    wm_rig.py TWINFOLD CASE     (CASE: one of the functions named case_*)

Exit status 0 passed, 1 failed, 77 skipped (a needed program is missing). Every wait
polls with a deadline; the display, the window manager and the program are ended on
every path, and end with this script if it is killed.
"""

import configparser
import ctypes
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TWIPS = 15
SCREEN = (1280, 1024)
# Openbox keeps these edges free, as a panel would: the work area is smaller than the screen.
MARGINS = {'top': 24, 'bottom': 40, 'left': 0, 'right': 0}
WORK_AREA = (0, 24, 1280, 1024 - 24 - 40)
DESIGN_CLIENT = (792, 416)  # 11,880 x 6,240 twips
WAIT = float(os.environ.get('TWINFOLD_WM_WAIT', '20'))  # seconds for any one thing to happen
TOOLS = ['Xvfb', 'openbox', 'xdotool', 'xprop', 'xwininfo', 'import']


class Failure(Exception):
    pass


def die_with_parent():
    # A killed rig (a CTest timeout) must not leave a display or a window manager behind.
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def wait_for(what, probe, timeout=WAIT):
    """Polls probe() until it gives a true value; fails naming what and the last value."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        last = probe()
        if last:
            return last
        if time.monotonic() > deadline:
            raise Failure(f'timed out waiting for {what} (last seen: {last!r})')
        time.sleep(0.05)


def check(condition, message):
    if not condition:
        raise Failure(message)


class Desktop:
    """A private X display with openbox, and one twinfold run at a time on it."""

    def __init__(self, binary, root):
        self.binary = binary
        self.root = root
        self.procs = []
        self.app = None
        read_end, write_end = os.pipe()
        self.start(['Xvfb', '-displayfd', str(write_end), '-screen', '0', '%dx%dx24' % SCREEN,
                    '-nolisten', 'tcp', '-noreset'], pass_fds=(write_end,))
        os.close(write_end)
        number = b''
        deadline = time.monotonic() + WAIT
        while not number.endswith(b'\n'):
            ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
            if not ready:
                raise Failure('Xvfb did not start')
            chunk = os.read(read_end, 16)
            if not chunk:
                raise Failure('Xvfb ended at start')
            number += chunk
        os.close(read_end)
        self.env = dict(os.environ, DISPLAY=':' + number.decode().strip())
        self.start(['openbox', '--sm-disable', '--config-file', self.openbox_config()], env=self.env)
        wait_for('openbox', lambda: '_NET_SUPPORTING_WM_CHECK(WINDOW)' in self.run('xprop', '-root',
                                                                                  '_NET_SUPPORTING_WM_CHECK'))
        wait_for('the work area', lambda: self.work_area() == WORK_AREA)

    def openbox_config(self):
        with open('/etc/xdg/openbox/rc.xml') as f:
            text = f.read()
        for edge, size in MARGINS.items():
            text = re.sub(r'(<margins>.*?<%s>)\d+(</%s>)' % (edge, edge), r'\g<1>%d\2' % size, text, flags=re.S)
        path = os.path.join(self.root, 'openbox-rc.xml')
        with open(path, 'w') as f:
            f.write(text)
        return path

    def start(self, argv, quiet=True, **kw):
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL if quiet else None, preexec_fn=die_with_parent, **kw)
        self.procs.append(proc)
        return proc

    def close(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()

    def run(self, *argv):
        result = subprocess.run(argv, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                timeout=WAIT)
        return result.stdout

    # --- the program ---------------------------------------------------------------------

    def home(self):
        return os.path.join(self.root, 'home')

    def settings_file(self):
        return os.path.join(self.root, 'config', 'Quillmoor.ini')

    def seed_settings(self, **values):
        os.makedirs(os.path.dirname(self.settings_file()), exist_ok=True)
        with open(self.settings_file(), 'w') as f:
            f.write('[Twinfold]\n' + ''.join('%s=%s\n' % kv for kv in values.items()))

    def settings(self):
        parser = configparser.ConfigParser()
        parser.optionxform = str
        try:
            parser.read(self.settings_file())
            return dict(parser['Twinfold'])
        except (KeyError, configparser.Error):
            return {}

    def launch(self):
        for sub in ('home', 'config', 'data', 'cache', 'runtime'):
            os.makedirs(os.path.join(self.root, sub), mode=0o700, exist_ok=True)
        env = dict(self.env, HOME=self.home(), XDG_CONFIG_HOME=os.path.join(self.root, 'config'),
                   XDG_DATA_HOME=os.path.join(self.root, 'data'), XDG_CACHE_HOME=os.path.join(self.root, 'cache'),
                   XDG_RUNTIME_DIR=os.path.join(self.root, 'runtime'), QT_QPA_PLATFORM='xcb',
                   QT_QPA_PLATFORMTHEME='', LC_ALL='C.UTF-8', LANG='C.UTF-8')
        env.pop('SESSION_MANAGER', None)
        self.app = self.start([self.binary], quiet=False, env=env, cwd=self.root)
        main = wait_for('the main window', lambda: self.windows('^Twinfold 7.0$'))
        check(len(main) == 1, 'one main window at start, found %r' % main)
        return main[0]

    def close_window(self, window, what):
        """Alt+F4, the window manager's close, until the program has ended."""
        self.press_until(window, ['alt+F4'], what, lambda: self.app.poll() is not None)

    def shown(self, title, what):
        """The one framed, visible window of the title."""
        return wait_for(what, lambda: [w for w in self.windows(title) if self.outer(w)])[0]

    def windows(self, title):
        out = self.run('xdotool', 'search', '--all', '--pid', str(self.app.pid), '--name', title)
        return [int(w) for w in out.split()]

    # --- what the X server knows about a window ------------------------------------------

    def info(self, window):
        out = self.run('xwininfo', '-id', str(window))
        if 'Absolute upper-left X' not in out:  # gone
            return {'x': 0, 'y': 0, 'w': 0, 'h': 0, 'viewable': False}
        get = lambda label: int(re.search(label + r':\s+(-?\d+)', out).group(1))
        return {'x': get('Absolute upper-left X'), 'y': get('Absolute upper-left Y'), 'w': get('Width'),
                'h': get('Height'), 'viewable': 'IsViewable' in out}

    def extents(self, window):
        out = self.run('xprop', '-id', str(window), '_NET_FRAME_EXTENTS')
        m = re.search(r'=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)', out)
        return tuple(int(v) for v in m.groups()) if m else None  # left, right, top, bottom

    def outer(self, window):
        """The frame's rectangle (x, y, w, h), once the window manager has framed the window."""
        i, e = self.info(window), self.extents(window)
        if not e or not i['viewable']:
            return None
        left, right, top, bottom = e
        return (i['x'] - left, i['y'] - top, i['w'] + left + right, i['h'] + top + bottom)

    def wm_state(self, window):
        out = self.run('xprop', '-id', str(window), 'WM_STATE')
        m = re.search(r'window state: (\w+)', out)
        return m.group(1) if m else 'Withdrawn'

    def net_state(self, window):
        return set(re.findall(r'_NET_WM_STATE_\w+', self.run('xprop', '-id', str(window), '_NET_WM_STATE')))

    def maximised(self, window):
        return {'_NET_WM_STATE_MAXIMIZED_VERT', '_NET_WM_STATE_MAXIMIZED_HORZ'} <= self.net_state(window)

    def stacking(self):
        out = self.run('xprop', '-root', '_NET_CLIENT_LIST_STACKING')
        return [int(w, 16) for w in re.findall(r'0x[0-9a-f]+', out)]

    def work_area(self):
        m = re.search(r'=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)', self.run('xprop', '-root', '_NET_WORKAREA'))
        return tuple(int(v) for v in m.groups()) if m else None

    # --- input ---------------------------------------------------------------------------

    def active(self):
        return self.run('xdotool', 'getactivewindow').strip()

    def activate(self, window):
        # Asked again while it is not done: a request made while the window manager is
        # still busy with the window can be dropped.
        def probe():
            if self.active() == str(window):
                return True
            self.run('xdotool', 'windowactivate', str(window))
            time.sleep(0.2)
            return self.active() == str(window)
        wait_for('window %d active' % window, probe)

    def key(self, window, *keys):
        self.activate(window)
        self.run('xdotool', 'key', *keys)

    def press_until(self, window, keys, what, probe):
        """Presses keys in the window until probe() gives a true value. A key that arrives
        while the program is still taking the focus can go astray on a loaded machine;
        pressing it again is harmless for the keys used here."""
        deadline = time.monotonic() + 2 * WAIT
        while True:
            if self.app.poll() is None and self.info(window)['viewable']:
                self.key(window, *keys)
            try:
                return wait_for(what, probe, timeout=5)
            except Failure:
                if time.monotonic() > deadline:
                    raise

    def click(self, window, x, y):
        self.run('xdotool', 'mousemove', '--window', str(window), str(x), str(y), 'click', '1')

    def double_click_title(self, window):
        x, y, w, _ = self.outer(window)
        top = self.extents(window)[2]
        self.run('xdotool', 'mousemove', str(x + w // 2), str(y + top // 2), 'click', '--repeat', '2',
                 '--delay', '80', '1')

    def add_folder(self, main, folder):
        """ADD FOLDER through its key and the real folder dialog, typing the path."""
        dialog = self.press_until(main, ['ctrl+o'], 'the folder dialog',
                                  lambda: [w for w in self.windows('^Please select folder to add:$') if self.outer(w)])[0]
        self.activate(dialog)
        self.run('xdotool', 'type', '--delay', '10', folder)
        # Return may first close the name completion; a second one then takes the folder.
        for _ in range(3):
            self.run('xdotool', 'key', 'Return')
            try:
                wait_for('the folder dialog to close', lambda: not self.windows('^Please select folder to add:$')
                         or not self.info(dialog)['viewable'], timeout=3)
                return
            except Failure:
                pass
        raise Failure('the folder dialog did not take ' + folder)

    def find_dupes(self, main):
        """F5, then the results and preview windows once they are up."""
        results = self.press_until(main, ['F5'], 'the results window',
                                   lambda: [w for w in self.windows('^Twinfold 7.0$') if w != main and self.outer(w)])[0]
        preview = wait_for('the preview window', lambda: [w for w in self.windows('^Preview$') if self.outer(w)])[0]
        wait_for('the main window hidden', lambda: not self.info(main)['viewable'])
        return results, preview

    def back_to_main(self, results):
        self.activate(results)
        self.click(results, 100, 40)  # BACK TO MAIN sits at the top left


# --- shared checks --------------------------------------------------------------------------

def inside(rect, area):
    x, y, w, h = rect
    ax, ay, aw, ah = area
    return x >= ax and y >= ay and x + w <= ax + aw and y + h <= ay + ah


def saved(desk, window_state, outer=None):
    """Waits until the settings hold the state and the outer size in twips."""
    def probe():
        s = desk.settings()
        want = {'WindowState': str(window_state)}
        if outer:
            want.update(FormWidth=str(outer[2] * TWIPS), FormHeight=str(outer[3] * TWIPS))
        return all(s.get(k) == v for k, v in want.items()) and s
    return wait_for('settings %r %r' % (window_state, outer), probe)


def duplicates(desk, name='twins'):
    folder = os.path.join(desk.root, name)
    os.makedirs(folder, exist_ok=True)
    for copy in ('a.jpg', 'b.jpg'):
        with open(os.path.join(folder, copy), 'w') as f:
            f.write('the same picture')
    return folder


# --- cases ----------------------------------------------------------------------------------

def case_startup(desk):
    """Design size, centred (raised by 1,000 twips); the saved size is the outer size, so
    the next start opens at the same client size and place."""
    for run in (1, 2):
        main = desk.launch()
        # Shown before it is framed, the window is laid out again once the frame is known:
        # what counts is the rectangle the program has settled on and saved.
        def settled():
            outer, info = desk.outer(main), desk.info(main)
            s = desk.settings()
            return (outer and outer == desk.outer(main) and s.get('WindowState') == '0'
                    and s.get('FormWidth') == str(outer[2] * TWIPS) and s.get('FormHeight') == str(outer[3] * TWIPS)
                    and (outer, info))
        outer, info = wait_for('run %d: the main window framed and its outer size saved' % run, settled)
        check((info['w'], info['h']) == DESIGN_CLIENT, 'run %d: client %dx%d' % (run, info['w'], info['h']))
        centre = ((SCREEN[0] - DESIGN_CLIENT[0]) // 2, int((SCREEN[1] - DESIGN_CLIENT[1]) / 2 - 1000 / TWIPS))
        check(outer[:2] == centre, 'run %d: frame at %r, expected %r' % (run, outer[:2], centre))
        check(desk.wm_state(main) == 'Normal', 'run %d: state %s' % (run, desk.wm_state(main)))
        check(outer[2:] != DESIGN_CLIENT, 'openbox drew no frame')
        desk.close_window(main, 'the program to end when its main window closes')
        check(desk.settings().get('FormWidth') == str(outer[2] * TWIPS), 'closing changed the saved size')


def case_minimised_start(desk):
    """A window started minimised and restored by the user comes back restored after
    BACK TO MAIN."""
    desk.seed_settings(WindowState=1, FormWidth=12000, FormHeight=7500)
    folder = duplicates(desk)
    main = desk.launch()
    wait_for('the main window iconic', lambda: desk.wm_state(main) == 'Iconic')
    desk.activate(main)  # as a click on its task bar entry would
    wait_for('the main window restored', lambda: desk.wm_state(main) == 'Normal' and desk.outer(main))
    saved(desk, 0)
    desk.add_folder(main, folder)
    results, _ = desk.find_dupes(main)
    desk.back_to_main(results)
    wait_for('the main window back', lambda: desk.info(main)['viewable'] and desk.wm_state(main) == 'Normal')
    wait_for('the results window hidden', lambda: not desk.info(results)['viewable'])
    time.sleep(0.5)  # a late iconify from a stale start-up hint would show here
    check(desk.wm_state(main) == 'Normal' and desk.info(main)['viewable'],
          'main window %s after BACK TO MAIN' % desk.wm_state(main))
    saved(desk, 0)


def case_preview(desk):
    """The preview sits right below the results window's frame, inside the work area."""
    main = desk.launch()
    wait_for('the main window framed', lambda: desk.outer(main))
    desk.add_folder(main, duplicates(desk))
    main_outer = desk.outer(main)
    results, preview = desk.find_dupes(main)
    r = wait_for('the results window at the main window\'s place', lambda: desk.outer(results) == main_outer
                 and desk.outer(results))
    p = wait_for('the preview below the results window',
                 lambda: (lambda o: o and o[:2] == (r[0], r[1] + r[3]) and o)(desk.outer(preview)))
    check(inside(p, WORK_AREA), 'preview %r outside the work area %r' % (p, WORK_AREA))
    # The keys of the results window work at once: the preview does not take the focus.
    wait_for('the results window active', lambda: desk.active() == str(results))
    # BACK TO MAIN from a normal results window: the main window takes its place again.
    desk.back_to_main(results)
    wait_for('the main window back at the results window\'s place', lambda: desk.outer(main) == r)
    check(desk.wm_state(main) == 'Normal', 'main window %s' % desk.wm_state(main))
    saved(desk, 0, r)


def case_maximised_results(desk):
    """BACK TO MAIN from a maximised results window gives a maximised main window, and the
    next results window comes maximised with the preview in front, inside the work area."""
    main = desk.launch()
    wait_for('the main window framed', lambda: desk.outer(main))
    desk.add_folder(main, duplicates(desk))
    results, preview = desk.find_dupes(main)
    desk.activate(results)
    desk.double_click_title(results)
    wait_for('the results window maximised', lambda: desk.maximised(results))
    desk.back_to_main(results)
    wait_for('the main window back, maximised', lambda: desk.info(main)['viewable'] and desk.maximised(main))
    wait_for('the results window hidden', lambda: not desk.info(results)['viewable'])
    saved(desk, 2)
    # The state is told before the frame has its maximised size: the size is waited for.
    wait_for('the maximised main window to fill the work area %r' % (WORK_AREA,),
             lambda: desk.outer(main) == WORK_AREA)

    desk.find_dupes(main)
    wait_for('the results window maximised', lambda: desk.maximised(results))
    seen = []
    try:
        p = wait_for('the preview inside the work area', lambda: (lambda o: seen.append(o) or (
            o and inside(o, WORK_AREA) and o))(desk.outer(preview)))
    except Failure as failure:
        raise Failure('%s, at %r of %r; results at %r' % (failure, seen[-1], WORK_AREA, desk.outer(results)))
    stack = wait_for('the preview above the results window', lambda: (lambda s: preview in s and results in s and
                     s.index(preview) > s.index(results) and s)(desk.stacking()))
    check(p[3] < WORK_AREA[3], 'preview %r' % (p,))


def case_back_to_main_restart(desk):
    """After BACK TO MAIN the saved size stays the outer size, also once late window events
    have come in, so the next start opens at the same client size."""
    main = desk.launch()
    wait_for('the main window framed', lambda: desk.outer(main))
    desk.add_folder(main, duplicates(desk))
    main_outer = desk.outer(main)
    results, _ = desk.find_dupes(main)
    r = wait_for('the results window at the main window\'s place', lambda: desk.outer(results) == main_outer
                 and desk.outer(results))
    desk.back_to_main(results)
    wait_for('the main window back at the results window\'s place', lambda: desk.outer(main) == r)
    saved(desk, 0, r)
    time.sleep(1.5)  # the client size used to be saved about half a second later
    desk.close_window(main, 'the program to end')
    s = desk.settings()
    check((s.get('FormWidth'), s.get('FormHeight')) == (str(r[2] * TWIPS), str(r[3] * TWIPS)),
          'saved %r after BACK TO MAIN, outer %r' % (s, r))
    main = desk.launch()
    info = wait_for('the main window framed again', lambda: desk.outer(main) and desk.info(main))
    check((info['w'], info['h']) == DESIGN_CLIENT, 'started again at %dx%d' % (info['w'], info['h']))


def size_text_right_edge(desk, window, left):
    """The rightmost dark pixel of the list's first row from `left` on, within the window
    (through ImageMagick): where the first size text ends."""
    width = desk.info(window)['w']
    raw = subprocess.run(['import', '-window', str(window), '-depth', '8', 'gray:-'], env=desk.env,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=WAIT).stdout
    edge = -1
    for y in range(107, 119):  # the list starts at (8, 88), below a header about 18 pixels high
        for x in range(8 + left, min(width, 8 + left + 150)):
            if y * width + x < len(raw) and raw[y * width + x] < 80:
                edge = max(edge, x)
    return edge


def case_maximised_columns(desk):
    """Maximising the results window and restoring it leaves the "Size" column readable, and
    with the results window maximised the preview stays in front after a click in the list
    and after a key move."""
    main = desk.launch()
    wait_for('the main window framed', lambda: desk.outer(main))
    desk.add_folder(main, duplicates(desk))
    results, preview = desk.find_dupes(main)
    r = wait_for('the results window framed', lambda: desk.outer(results))
    # Filename column: list width x 95 / 90 - 3700 twips; the "Size" header follows it.
    filename = round(((r[2] * TWIPS - 360) * 95 / 90 - 3700) / TWIPS)
    before = wait_for('the first size drawn', lambda: (lambda e: e > 0 and e)(
        size_text_right_edge(desk, results, filename)))
    desk.activate(results)
    desk.double_click_title(results)
    wait_for('the results window maximised', lambda: desk.maximised(results)
             and desk.outer(results)[2] == desk.work_area()[2])
    for how, act in (('a click in the list', lambda: desk.click(results, 60, 130)),
                     ('a key move', lambda: desk.key(results, 'Down'))):
        act()
        wait_for('the preview in front after %s' % how, lambda: (lambda s: preview in s and results in s and
                 s.index(preview) > s.index(results))(desk.stacking()))
    desk.double_click_title(results)
    wait_for('the results window restored', lambda: not desk.maximised(results) and desk.outer(results) == r)
    after = wait_for('the first size drawn again', lambda: (lambda e: e > 0 and e)(
        size_text_right_edge(desk, results, filename)))
    check(after >= before, 'size cut after maximising: ends at %d, was %d' % (after, before))


# Wide enough that the maximised list gives "Size" a width of its own (about 29 pixels).
case_maximised_columns.screen = (1680, 1050)


def case_maximised_start(desk):
    """A window started maximised with a saved screen-sized size comes back inside the
    work area when the user restores it."""
    desk.seed_settings(WindowState=2, FormWidth=SCREEN[0] * TWIPS, FormHeight=SCREEN[1] * TWIPS)
    main = desk.launch()
    wait_for('the main window maximised', lambda: desk.maximised(main) and desk.outer(main))
    desk.activate(main)
    desk.double_click_title(main)
    restored = wait_for('the main window restored', lambda: not desk.maximised(main) and desk.outer(main))
    restored = wait_for('the restored window inside the work area', lambda: (lambda o: o and inside(o, WORK_AREA)
                        and o)(desk.outer(main)))
    saved(desk, 0, restored)


def case_maximised_search(desk):
    """A first search from a main window started maximised shows the preview inside the work
    area: a maximised window's frame has no borders, the preview's has."""
    desk.seed_settings(WindowState=2)
    main = desk.launch()
    wait_for('the main window maximised', lambda: desk.maximised(main) and desk.outer(main) == WORK_AREA)
    desk.add_folder(main, duplicates(desk))
    _, preview = desk.find_dupes(main)
    wait_for('the preview inside the work area %r' % (WORK_AREA,), lambda: (lambda o: o and inside(o, WORK_AREA)
             and o)(desk.outer(preview)))


def case_focus(desk):
    """When a search ends, FIND DUPES has the keyboard focus: Space starts another search
    instead of emptying the folder list."""
    folder = os.path.join(desk.root, 'unique')
    os.makedirs(folder)
    for name, text in (('a', 'one'), ('b', 'two')):
        with open(os.path.join(folder, name), 'w') as f:
            f.write(text)
    main = desk.launch()
    wait_for('the main window framed', lambda: desk.outer(main))
    desk.add_folder(main, folder)
    # With the fault, the first Space empties the list and no search follows, however often
    # it is pressed.
    for press in ('F5', 'space', 'space'):
        box = desk.press_until(main, [press], '"No duplicate images found." after %s' % press,
                               lambda: [w for w in desk.windows('^Twinfold$') if desk.outer(w)])[0]
        desk.press_until(box, ['Return'], 'the message box closed',
                         lambda: not desk.windows('^Twinfold$') or not desk.info(box)['viewable'])
        wait_for('the main window active', lambda: desk.active() == str(main))


def case_close_results(desk):
    """Closing the results window ends the program."""
    main = desk.launch()
    wait_for('the main window framed', lambda: desk.outer(main))
    desk.add_folder(main, duplicates(desk))
    results, _ = desk.find_dupes(main)
    desk.close_window(results, 'the program to end when the results window closes')


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    binary, name = os.path.abspath(argv[1]), argv[2]
    case = globals().get('case_' + name.replace('-', '_'))
    if not case:
        print('no case ' + name, file=sys.stderr)
        return 2
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        print('skipped: missing ' + ' '.join(missing), file=sys.stderr)
        return 77
    # Whatever happens below, the rig ends before CTest's own timeout and cleans up.
    signal.signal(signal.SIGALRM, lambda *_: (_ for _ in ()).throw(Failure('the case took too long')))
    signal.alarm(int(os.environ.get('TWINFOLD_WM_CASE_TIMEOUT', '150')))
    global SCREEN, WORK_AREA
    SCREEN = getattr(case, 'screen', SCREEN)
    WORK_AREA = (0, MARGINS['top'], SCREEN[0], SCREEN[1] - MARGINS['top'] - MARGINS['bottom'])
    with tempfile.TemporaryDirectory(prefix='twinfold-wm-') as root:
        desk = None
        try:
            desk = Desktop(binary, root)
            case(desk)
        except Failure as failure:
            print('FAIL %s: %s' % (name, failure), file=sys.stderr)
            if desk and os.environ.get('TWINFOLD_WM_SHOT'):
                desk.run('import', '-window', 'root', os.environ['TWINFOLD_WM_SHOT'])
            return 1
        finally:
            signal.alarm(0)
            if desk:
                desk.close()
    print('PASS ' + name)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
