#!/usr/bin/env python3
"""The program as a host meets it after installing it, driven from outside.

Installs the build into a temporary root (DESTDIR, prefix /usr), makes that
tree read-only, and starts the installed program from another folder on a
private X display. A click on an effect must sound; a custom slot bound
through its own dialogs must land in $XDG_CONFIG_HOME/qinghe/my.ini of a
temporary home and still be bound, and still play, after a restart. The
portable case, the program copied into a folder of its own with its data,
keeps my.ini beside the program.

Sound goes to SDL's disk driver: what the board plays is in a file.

Usage: installed_program_test.py BUILD_DIR [installed|portable|package]...
("package" needs the Debian package installed; the others are the default.)
"""

import http.server
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BUILD = None
MAIN_TITLE = "青禾主持人音效辅助工具"
# Places inside the main window, from its definition: the first board
# button of the page shown (effect "开场音乐" at start, custom slot 1 on the
# custom page), and the toolbar button that shows the custom page.
FIRST_BOARD_BUTTON = (43, 156)
CUSTOM_PAGE_BUTTON = (332, 65)
# The menu 软件更新 and its item 在线更新 below it.
UPDATE_MENU = (95, 10)
UPDATE_ITEM = (120, 32)
# Generous bounds for a loaded machine; nothing here measures speed.
WAIT_SECONDS = 90
SOUND_WAIT_SECONDS = 20


def wait_for(what, check, seconds=WAIT_SECONDS):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError("gave up waiting for " + what)


class Display:
    """A private X server, so clicks and keys reach only our program."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as answer:
            number = answer.readline().strip()
        if not number:
            self.server.kill()
            raise AssertionError("Xvfb did not start")
        self.name = ":" + number

    def tool(self, *args):
        env = dict(os.environ, DISPLAY=self.name)
        done = subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True)
        return done.stdout.strip() if done.returncode == 0 else ""

    def visible_windows(self, pid):
        found = self.tool("search", "--onlyvisible", "--pid", str(pid), "--name", "")
        return [w for w in found.split() if w]

    def close(self):
        self.server.terminate()
        self.server.wait(timeout=30)


class RunningProgram:
    def __init__(self, display, program, cwd, home, audio):
        self.display = display
        self.audio = audio
        env = dict(os.environ)
        for name in ("QT_QPA_PLATFORM", "SDL_DISKAUDIOFILE", "XDG_CONFIG_HOME"):
            env.pop(name, None)
        env.update(DISPLAY=display.name, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
                   SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=audio, LANG="C.UTF-8")
        # The desktop's own sound server is never touched; the board plays without one.
        env.setdefault("PULSE_SERVER", "unix:/nonexistent/qinghe-tests")
        self.log = open(os.path.join(home, "program.log"), "ab")
        self.process = subprocess.Popen([program], cwd=cwd, env=env, stdout=self.log, stderr=self.log)
        self.settle()

    def settle(self):
        """Waits for the main window to stand. Right after its first paint
        the board takes in its web panel, and the window system's window is
        made anew for it: one id seen twice, a second apart, is the one."""
        seen = []

        def stands():
            seen.append(wait_for("the main window", self._main_window))
            time.sleep(1)
            return len(seen) >= 2 and seen[-1] == seen[-2]
        wait_for("the main window to stand", stands)
        self.main = seen[-1]

    def _main_window(self):
        if self.process.poll() is not None:
            raise AssertionError("the program ended with %s" % self.process.returncode)
        for window in self.display.visible_windows(self.process.pid):
            if self.display.tool("getwindowname", window) == MAIN_TITLE:
                return window
        return None

    def click(self, place):
        x, y = place
        self.main = wait_for("the main window", self._main_window)
        self.display.tool("mousemove", "--window", self.main, str(x), str(y), "click", "1")

    def other_windows(self):
        """Visible windows besides the main one (its id may change)."""
        return {w for w in self.display.visible_windows(self.process.pid)
                if self.display.tool("getwindowname", w) not in ("", MAIN_TITLE)}

    def new_window(self, known):
        return wait_for("a window to open", lambda: next(iter(self.other_windows() - set(known)), None))

    def answer(self, window):
        """Return on a box, as the host would; waits until it has gone."""
        wait_for("the input focus", lambda: self.display.tool("getwindowfocus") == window)
        self.display.tool("key", "Return")
        wait_for("the box to close", lambda: window not in self.windows())

    def windows(self):
        return set(self.display.visible_windows(self.process.pid))

    def type_and_enter(self, window, text):
        # Keys go where the input focus is: the new window must have it first.
        wait_for("the input focus", lambda: self.display.tool("getwindowfocus") == window)
        self.display.tool("type", "--delay", "15", text)
        self.display.tool("key", "Return")

    def assign_first_slot(self, sound_file, name):
        """The host's way: the custom page, an empty slot, its file dialog, its name box."""
        self.click(CUSTOM_PAGE_BUTTON)
        known = self.windows()
        self.click(FIRST_BOARD_BUTTON)
        dialog = self.new_window(known)
        self.type_and_enter(dialog, sound_file)
        wait_for("the file dialog to close", lambda: dialog not in self.windows())
        name_box = self.new_window(known)
        self.type_and_enter(name_box, name)
        wait_for("the name box to close", lambda: name_box not in self.windows())

    def sounds_after(self, action):
        """True when something audible reaches the output after action."""
        start = os.path.getsize(self.audio) if os.path.exists(self.audio) else 0
        action()

        def heard():
            if not os.path.exists(self.audio):
                return False
            with open(self.audio, "rb") as output:
                output.seek(start)
                return any(output.read())
        try:
            return wait_for("sound", heard, SOUND_WAIT_SECONDS)
        except AssertionError:
            return False

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.close()


def read_only_mount(folder):
    """An administrator writes through mode bits, so the tree is mounted read-only."""
    if os.geteuid() != 0:
        subprocess.run(["chmod", "-R", "a-w", folder], check=True)
        return lambda: subprocess.run(["chmod", "-R", "u+w", folder], check=True)
    subprocess.run(["mount", "--bind", folder, folder], check=True)
    subprocess.run(["mount", "-o", "remount,bind,ro", folder], check=True)
    return lambda: subprocess.run(["umount", folder], check=True)


def ini_text(path):
    with open(path, "rb") as ini:
        return ini.read().decode("gb18030")


class UpdateSite:
    """The author's site on 127.0.0.1, announcing a version newer than ours."""

    PAGE = "版本号（v2.0）结束".encode("gbk")

    def __init__(self):
        page = self.PAGE

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                found = self.path.startswith("/updata.html")
                body = page if found else b""
                self.send_response(200 if found else 404)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class InstalledProgram(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="qinghe-install-")
        os.chmod(self.work, 0o755)
        self.cwd = os.path.join(self.work, "elsewhere")
        self.home = os.path.join(self.work, "home")
        self.music = os.path.join(self.work, "music")
        for folder in (self.cwd, self.home, self.music):
            os.makedirs(folder)
        # A host's own file, outside every folder the program knows.
        shutil.copy(os.path.join(BUILD, "bin", "data", "1.mp3"), os.path.join(self.music, "opening.mp3"))
        self.runs = 0
        self.display = Display()
        self.undo = []

    def tearDown(self):
        for step in reversed(self.undo):
            step()
        self.display.close()
        if not os.environ.get("QINGHE_KEEP_TEST_FOLDER"):
            shutil.rmtree(self.work, ignore_errors=True)

    def run_program(self, program):
        # Each run has its own output: the disk driver starts its file afresh.
        self.runs += 1
        audio = os.path.join(self.work, "output-%d.raw" % self.runs)
        running = RunningProgram(self.display, program, self.cwd, self.home, audio)
        self.undo.append(running.stop)
        return running

    def bind_slot_restart_and_play(self, program):
        running = self.run_program(program)
        self.assertTrue(running.sounds_after(lambda: running.click(FIRST_BOARD_BUTTON)),
                        "a click on 开场音乐 made no sound")
        running.assign_first_slot(os.path.join(self.music, "opening.mp3"), "Opening")
        running.stop()

        again = self.run_program(program)
        opened = again.windows()
        again.click(CUSTOM_PAGE_BUTTON)
        self.assertTrue(again.sounds_after(lambda: again.click(FIRST_BOARD_BUTTON)),
                        "the bound slot made no sound after the restart")
        # A bound slot plays; it does not ask for a file again.
        self.assertEqual(again.windows(), opened)

    def test_installed_tree_keeps_settings_in_the_users_config_folder(self):
        root = os.path.join(self.work, "root")
        env = dict(os.environ, DESTDIR=root)
        subprocess.run(["cmake", "--install", BUILD, "--prefix", "/usr"], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        share = os.path.join(root, "usr", "share")
        subprocess.run(["desktop-file-validate",
                        os.path.join(share, "applications", "com.example.qinghe.desktop")], check=True)
        subprocess.run(["appstreamcli", "validate", "--no-net",
                        os.path.join(share, "metainfo", "com.example.qinghe.metainfo.xml")], check=True)
        self.undo.append(read_only_mount(root))

        self.bind_slot_restart_and_play(os.path.join(root, "usr", "bin", "qinghe"))

        ini = os.path.join(self.home, "config", "qinghe", "my.ini")
        text = ini_text(ini)
        self.assertIn("[自定义音乐]", text)
        self.assertIn("按钮1path=" + os.path.join(self.music, "opening.mp3"), text)
        self.assertIn("按钮1name=Opening", text)
        self.assertFalse(os.path.exists(os.path.join(self.cwd, "my.ini")))

    def test_portable_folder_keeps_settings_beside_the_program(self):
        portable = os.path.join(self.work, "portable")
        os.makedirs(portable)
        shutil.copy(os.path.join(BUILD, "bin", "qinghe"), portable)
        # The sound module travels with the program: it plays every sound.
        shutil.copy(os.path.join(BUILD, "bin", "qinghe_sound.so"), portable)
        shutil.copytree(os.path.join(BUILD, "bin", "data"), os.path.join(portable, "data"))

        self.bind_slot_restart_and_play(os.path.join(portable, "qinghe"))

        text = ini_text(os.path.join(portable, "my.ini"))
        self.assertIn("按钮1path=" + os.path.join(self.music, "opening.mp3"), text)
        self.assertFalse(os.path.exists(os.path.join(self.home, "config", "qinghe", "my.ini")))

    def test_package_installed_program_shows_the_board(self):
        """After apt-get install of the package: the program in /usr/bin.
        It plays, and a new version on the site is left to the package
        manager: a box says so, no update window opens, the board stays."""
        site = UpdateSite()
        self.undo.append(site.close)
        config = os.path.join(self.home, "config", "qinghe")
        os.makedirs(config)
        with open(os.path.join(config, "addresses.ini"), "w") as addresses:
            addresses.write("[addresses]\nsite = 127.0.0.1:%d\n" % site.port)

        running = self.run_program("/usr/bin/qinghe")
        # The start-up check tells of the new version first.
        running.answer(running.new_window(set()))
        self.assertTrue(running.sounds_after(lambda: running.click(FIRST_BOARD_BUTTON)),
                        "a click on 开场音乐 made no sound")

        running.click(UPDATE_MENU)
        running.click(UPDATE_ITEM)
        running.answer(running.new_window(set()))
        # An update would open its window after a short wait and end the program.
        time.sleep(5)
        self.assertIsNone(running.process.poll(), "the program ended after the update check")
        self.assertEqual(running.other_windows(), set())
        running.stop()
        self.assertFalse(os.path.exists("/usr/bin/my.ini"))


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv[1])
    names = sys.argv[2:] or ["installed", "portable"]
    selected = {"installed": "test_installed_tree_keeps_settings_in_the_users_config_folder",
                "portable": "test_portable_folder_keeps_settings_beside_the_program",
                "package": "test_package_installed_program_shows_the_board"}
    suite = unittest.TestSuite(InstalledProgram(selected[n]) for n in names)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
