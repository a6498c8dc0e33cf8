"""Measures comloop side by side with its baselines and prints one table.

Run through scripts/bench, which builds what this needs first. Everything
happens on a private X server and on pseudo-terminals made here: no
hardware, no window manager, nothing of the user's touched.
"""

import ctypes
import errno
import fcntl
import glob
import os
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import termios
import time
import tty

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build-bench")
COMLOOP = os.path.join(BUILD, "comloop")
CHECK = os.path.join(BUILD, "comloop-check")
VIRTUAL_CABLE = os.path.join(ROOT, "scripts", "virtual-cable")
BARE = os.path.join(BUILD, "bench", "bare_window")
BARE_CAPTION = "bare window with one caption"
BARE_TICKING = "bare window with a caption counting seconds"
RDATA_PROBE = os.path.join(BUILD, "bench", "rdata_latency")

START_RUNS = 11
IDLE_SECONDS = 60
FLOOD_SECONDS = 5
CLICKS = 25
CHECK_RUNS = 3
CHECK_FRAMES = 2000


def source_constant(header, name):
    """A constant as the program defines it: the frame in src/frame.h, the
    line in src/devices/serial_device.h."""
    with open(os.path.join(ROOT, "src", header)) as source:
        match = re.search(r"constexpr \w+ %s(?:\[\])? = ([^;]+);" % name, source.read())
    return match.group(1).strip("\"'")


FRAME_HEAD = (source_constant("frame.h", "kFramePreamble")
              + source_constant("frame.h", "kFrameMarker")).encode()
FRAME_BYTES = len(FRAME_HEAD) + 4  # and the value's four hex digits
LINE_BAUD = int(source_constant("devices/serial_device.h", "kLineBaud"))
# A start bit, the data bits and a stop bit to every byte.
LINE_BITS_PER_BYTE = 1 + int(source_constant("devices/serial_device.h", "kLineDataBits")) + 1
# What the line carries at most, in whole frames a second.
LINE_FRAMES_PER_SECOND = LINE_BAUD // LINE_BITS_PER_BYTE // FRAME_BYTES

# Client-area positions of the controls the benchmark clicks or looks at.
OPEN_PORTS = (240 + 105 // 2, 48 + 25 // 2)
MEASURE = (72 + 75 // 2, 120 + 25 // 2)
UPTIME = (300, 4, 80, 28)


# --- a few Xlib calls, enough to see windows map, click and grab pixels ---

class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int),
                ("xoffset", ctypes.c_int), ("format", ctypes.c_int),
                ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


class XMapEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("event", ctypes.c_ulong), ("window", ctypes.c_ulong),
                ("override_redirect", ctypes.c_int)]


MAP_NOTIFY = 19
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
Z_PIXMAP = 2


class X:
    def __init__(self, display):
        self.lib = ctypes.CDLL("libX11.so.6")
        self.tst = ctypes.CDLL("libXtst.so.6")
        lib = self.lib
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        lib.XConnectionNumber.argtypes = [ctypes.c_void_p]
        lib.XPending.argtypes = [ctypes.c_void_p]
        lib.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        lib.XFlush.argtypes = [ctypes.c_void_p]
        lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.XGetImage.restype = ctypes.POINTER(XImage)
        lib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        lib.XFree.argtypes = [ctypes.c_void_p]
        lib.XTranslateCoordinates.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
            ctypes.POINTER(ctypes.c_ulong)]
        self.tst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                  ctypes.c_int, ctypes.c_ulong]
        self.tst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                  ctypes.c_ulong]
        self.dpy = None
        for _ in range(100):
            self.dpy = lib.XOpenDisplay(display.encode())
            if self.dpy:
                break
            time.sleep(0.05)
        if not self.dpy:
            raise RuntimeError("cannot open the X display " + display)
        self.root = lib.XDefaultRootWindow(self.dpy)
        lib.XSelectInput(self.dpy, self.root, SUBSTRUCTURE_NOTIFY_MASK)
        self.fd = lib.XConnectionNumber(self.dpy)
        self.event = ctypes.create_string_buffer(192)

    def forget_events(self):
        self.lib.XSync(self.dpy, 0)
        while self.lib.XPending(self.dpy):
            self.lib.XNextEvent(self.dpy, self.event)

    def wait_mapped(self, timeout):
        """The first top-level window mapped from now on, and when, or None."""
        deadline = time.monotonic() + timeout
        while True:
            while self.lib.XPending(self.dpy):
                self.lib.XNextEvent(self.dpy, self.event)
                ev = XMapEvent.from_buffer(self.event)
                if ev.type == MAP_NOTIFY and not ev.override_redirect:
                    return ev.window, time.monotonic()
            left = deadline - time.monotonic()
            if left <= 0:
                return None, None
            select.select([self.fd], [], [], left)

    def origin(self, window):
        x, y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        self.lib.XTranslateCoordinates(self.dpy, window, self.root, 0, 0,
                                       ctypes.byref(x), ctypes.byref(y), ctypes.byref(child))
        return x.value, y.value

    def click(self, x, y):
        """Queues a left click at the root position and sends it at once;
        returns the moment it left for the server."""
        self.tst.XTestFakeMotionEvent(self.dpy, -1, x, y, 0)
        self.tst.XTestFakeButtonEvent(self.dpy, 1, 1, 0)
        self.tst.XTestFakeButtonEvent(self.dpy, 1, 0, 0)
        sent = time.monotonic()
        self.lib.XFlush(self.dpy)
        return sent

    def pixels(self, window, x, y, w, h):
        image = self.lib.XGetImage(self.dpy, window, x, y, w, h, 0xFFFFFFFF, Z_PIXMAP)
        if not image:
            return b""
        data = ctypes.string_at(image.contents.data, image.contents.bytes_per_line * h)
        self.lib.XFree(image.contents.data)
        self.lib.XFree(image)
        return data


# --- processes, ptys and /proc ---

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def run_ns(pid):
    """CPU time of every thread of the process, to the nanosecond."""
    total = 0
    for stat in glob.glob(f"/proc/{pid}/task/*/schedstat"):
        with open(stat) as f:
            total += int(f.read().split()[0])
    return total


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def open_devices(pid):
    names = set()
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            names.add(os.readlink(f"/proc/{pid}/fd/{fd}"))
        except OSError:
            pass
    return names


class Cable:
    """A pseudo-terminal: the program opens `device`, the bench holds `far`
    (and keeps `near` open to see how much still waits on the program's side)."""

    def __init__(self):
        self.far, self.near = os.openpty()
        tty.setraw(self.near)
        self.device = os.ttyname(self.near)

    def waiting(self):
        buf = bytearray(4)
        fcntl.ioctl(self.near, termios.FIONREAD, buf)
        return int.from_bytes(buf, sys.byteorder)

    def close(self):
        os.close(self.far)
        os.close(self.near)


def stop(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(3)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


class Bench:
    def __init__(self):
        self.home = tempfile.mkdtemp(prefix="comloop-bench.")
        os.makedirs(os.path.join(self.home, "comloop"))
        runtime = os.path.join(self.home, "runtime")
        os.makedirs(runtime, mode=0o700)
        self.display = self.free_display()
        self.xvfb = subprocess.Popen(
            ["Xvfb", self.display, "-screen", "0", "1600x1200x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("QT_", "WAYLAND", "DBUS_SESSION"))}
        self.env.update(DISPLAY=self.display, QT_QPA_PLATFORM="xcb",
                        XDG_CONFIG_HOME=self.home, XDG_RUNTIME_DIR=runtime)
        self.x = X(self.display)

    @staticmethod
    def free_display():
        for n in range(90, 200):
            if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
                return f":{n}"
        raise RuntimeError("no free X display")

    def close(self):
        stop(self.xvfb)
        shutil.rmtree(self.home, ignore_errors=True)

    def launch(self, program):
        """Starts a program and waits for its window; returns the process,
        the window, and the seconds from launch to map."""
        command = {BARE_CAPTION: [BARE, "--caption"],
                   BARE_TICKING: [BARE, "--ticking"]}.get(program, [program])
        self.x.forget_events()
        started = time.monotonic()
        proc = subprocess.Popen(command, env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window, mapped = self.x.wait_mapped(20)
        if window is None:
            stop(proc)
            raise RuntimeError(program + " never mapped a window")
        return proc, window, mapped - started

    # Start-up and memory, alternating the two programs so that drift in
    # the machine's load hits both alike.
    def start_and_memory(self):
        programs = (COMLOOP, BARE, BARE_CAPTION)
        times = {p: [] for p in programs}
        rss = {p: [] for p in programs}
        for run in range(START_RUNS + 1):
            for program in programs:
                proc, _, seconds = self.launch(program)
                started = time.monotonic() - seconds
                time.sleep(max(0.0, started + 1.5 - time.monotonic()))
                memory = rss_mib(proc.pid)
                stop(proc)
                if run > 0:  # the first round only warms the caches
                    times[program].append(seconds * 1000)
                    rss[program].append(memory)
        return ({p: statistics.median(v) for p, v in times.items()},
                {p: statistics.median(v) for p, v in rss.items()})

    def open_ports(self):
        """Starts comloop on two fresh cables as COM3 and COM4 and clicks
        "Open Ports" the way an operator does."""
        master, slave = Cable(), Cable()
        for number, cable in ((3, master), (4, slave)):
            link = os.path.join(self.home, "comloop", f"com{number}")
            if os.path.lexists(link):
                os.remove(link)
            os.symlink(cable.device, link)
        proc, window, _ = self.launch(COMLOOP)
        time.sleep(0.3)
        ox, oy = self.x.origin(window)
        self.x.click(ox + OPEN_PORTS[0], oy + OPEN_PORTS[1])
        deadline = time.monotonic() + 5
        while {master.device, slave.device} - open_devices(proc.pid):
            if time.monotonic() > deadline:
                stop(proc)
                raise RuntimeError("comloop did not open COM3 and COM4")
            time.sleep(0.05)
        time.sleep(0.3)
        return proc, window, (ox, oy), master, slave

    def idle(self, comloop):
        bare, _, _ = self.launch(BARE)
        ticking, _, _ = self.launch(BARE_TICKING)
        time.sleep(1)
        pids = (comloop.pid, bare.pid, ticking.pid)
        before = [(run_ns(p), cpu_seconds(p)) for p in pids]
        began = time.monotonic()
        time.sleep(IDLE_SECONDS)
        after = [(run_ns(p), cpu_seconds(p)) for p in pids]
        seconds = time.monotonic() - began
        stop(bare)
        stop(ticking)
        # Per program: the share of one core from the scheduler's nanosecond
        # count, and the same from /proc/PID/stat's clock ticks.
        return [((a[0] - b[0]) / 1e9 / seconds * 100, (a[1] - b[1]) / seconds * 100)
                for a, b in zip(after, before)]

    def measure_clicks(self, origin, slave):
        """Click on "Measure" until the whole frame came out of COM4's cable."""
        x, y = origin[0] + MEASURE[0], origin[1] + MEASURE[1]
        os.set_blocking(slave.far, False)
        samples = []
        for _ in range(CLICKS):
            time.sleep(0.15)
            try:
                os.read(slave.far, 65536)
            except BlockingIOError:
                pass
            got = b""
            sent = self.x.click(x, y)
            deadline = sent + 1
            while len(got) < FRAME_BYTES and time.monotonic() < deadline:
                select.select([slave.far], [], [], max(0.0, deadline - time.monotonic()))
                try:
                    got += os.read(slave.far, 64)
                except BlockingIOError:
                    pass
            if len(got) < FRAME_BYTES:
                raise RuntimeError("no frame after a click on Measure")
            samples.append((time.monotonic() - sent) * 1000)
        return statistics.median(samples)

    def flood(self, cable, watch=None):
        """Writes valid frames into the cable for FLOOD_SECONDS as fast as the
        reader takes them, then waits until the reader has drained it all.
        Returns MB/s and, with `watch` (window, origin-relative rect), how many
        different pictures of that rectangle were seen meanwhile."""
        frames = b"".join(FRAME_HEAD + b"%04X" % (v % 32001) for v in range(0, 65536, 7))
        size = len(frames) - len(frames) % FRAME_BYTES
        ring = memoryview(frames[:size] * 2)
        os.set_blocking(cable.far, False)
        written, offset = 0, 0
        pictures, next_look = set(), 0.0
        start = time.monotonic()
        end = start + FLOOD_SECONDS
        while True:
            now = time.monotonic()
            if now >= end:
                break
            if watch and now >= next_look:
                pictures.add(self.x.pixels(watch[0], *watch[1]))
                next_look = now + 0.25
            select.select([], [cable.far], [], 0.05)
            try:
                n = os.write(cable.far, ring[offset:offset + size])
            except BlockingIOError:
                continue
            except OSError as e:
                if e.errno == errno.EIO:
                    raise RuntimeError("the reader let go of the cable") from e
                raise
            written += n
            offset = (offset + n) % size
        deadline = time.monotonic() + 30
        while cable.waiting() > 0 and time.monotonic() < deadline:
            time.sleep(0.0005)
        drained = time.monotonic()
        rate = written / (drained - start) / 1e6
        return rate, len(pictures)

    def cat_flood(self):
        cable = Cable()
        cat = subprocess.Popen(["cat", cable.device], stdout=subprocess.DEVNULL)
        time.sleep(0.2)
        rate, _ = self.flood(cable)
        stop(cat)
        cable.close()
        return rate

    def check_rate(self):
        """comloop-check over the virtual cable users get (scripts/virtual-cable,
        socat between two pseudo-terminals) as COM5 and COM6: frames per
        second and the round trip, medians over CHECK_RUNS runs."""
        cable = subprocess.Popen([VIRTUAL_CABLE, "5", "6"], env=self.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        links = [os.path.join(self.home, "comloop", f"com{n}") for n in (5, 6)]
        try:
            deadline = time.monotonic() + 10
            while not all(os.path.islink(link) for link in links):
                if time.monotonic() > deadline or cable.poll() is not None:
                    raise RuntimeError("the virtual cable did not come up")
                time.sleep(0.05)
            rates, trips = [], []
            for _ in range(CHECK_RUNS):
                out = subprocess.run([CHECK, "--frames", str(CHECK_FRAMES), "5", "6"], env=self.env,
                                     capture_output=True, text=True, timeout=120)
                if out.returncode != 0:
                    raise RuntimeError("comloop-check failed on the virtual cable:\n" + out.stdout + out.stderr)
                summary = out.stdout.split()
                rates.append(float(summary[summary.index("frames/s") - 1]))
                trips.append(float(summary[summary.index("median") + 1]))
            return statistics.median(rates), statistics.median(trips)
        finally:
            stop(cable)

    def rdata_latency(self):
        out = subprocess.run([RDATA_PROBE, "50"], env=self.env, capture_output=True,
                             text=True, timeout=60, check=True).stdout
        fields = dict(item.split("=") for item in out.split())
        return float(fields["median_ms"])


def row(figure, comloop, baseline, ratio, target, met):
    return f"| {figure} | {comloop} | {baseline} | {ratio} | {target} | {'yes' if met else 'NO'} |"


def info(figure, comloop, baseline, ratio):
    return f"| {figure} | {comloop} | {baseline} | {ratio} | (reference) | - |"


def main():
    began = time.monotonic()
    bench = Bench()
    try:
        start, memory = bench.start_and_memory()
        proc, window, origin, master, slave = bench.open_ports()
        try:
            idle = bench.idle(proc)
            click_ms = bench.measure_clicks(origin, slave)
            ux, uy, uw, uh = UPTIME
            rate, pictures = bench.flood(master, (window, (ux, uy, uw, uh)))
            alive = proc.poll() is None
        finally:
            stop(proc)
            master.close()
            slave.close()
        cat_rate = bench.cat_flood()
        rdata_ms = bench.rdata_latency()
        check_fps, check_trip_ms = bench.check_rate()
    finally:
        bench.close()

    start_ratio = start[COMLOOP] / start[BARE]
    memory_ratio = memory[COMLOOP] / memory[BARE]
    ticks = pictures - 1
    rows = [
        "| figure | comloop | baseline | ratio | target | met |",
        "|---|---|---|---|---|---|",
        row(f"start: launch to window mapped, median of {START_RUNS}",
            f"{start[COMLOOP]:.1f} ms", f"{start[BARE]:.1f} ms (bare Qt window)",
            f"{start_ratio:.2f}", "ratio <= 1.15", start_ratio <= 1.15),
        info("start, against a bare window with one caption",
             f"{start[COMLOOP]:.1f} ms", f"{start[BARE_CAPTION]:.1f} ms",
             f"{start[COMLOOP] / start[BARE_CAPTION]:.2f}"),
        row("memory: RSS 1.5 s after start, median",
            f"{memory[COMLOOP]:.1f} MiB", f"{memory[BARE]:.1f} MiB (bare Qt window)",
            f"{memory_ratio:.2f}", "ratio <= 1.15", memory_ratio <= 1.15),
        info("memory, against a bare window with one caption",
             f"{memory[COMLOOP]:.1f} MiB", f"{memory[BARE_CAPTION]:.1f} MiB",
             f"{memory[COMLOOP] / memory[BARE_CAPTION]:.2f}"),
        row(f"idle: CPU over {IDLE_SECONDS} s, both ports open, line quiet",
            f"{idle[0][0]:.3f} % (stat: {idle[0][1]:.3f} %)",
            f"{idle[1][0]:.3f} % (bare Qt window)", "-",
            "< 0.1 % of one core", idle[0][0] < 0.1),
        info("idle, against a bare window with a caption counting seconds",
             f"{idle[0][0]:.3f} %", f"{idle[2][0]:.3f} %", f"{idle[0][0] / idle[2][0]:.2f}"),
        row(f"receive throughput, {FLOOD_SECONDS} s flood of frames",
            f"{rate:.1f} MB/s", f"{cat_rate:.1f} MB/s (cat)", f"{rate / cat_rate:.2f}",
            ">= 12 MB/s", rate >= 12),
        row("uptime label repainted during the flood",
            f"{ticks} new captions" + ("" if alive else ", process died"), "-", "-",
            f">= {FLOOD_SECONDS - 2} in {FLOOD_SECONDS} s", alive and ticks >= FLOOD_SECONDS - 2),
        row(f"latency: Measure click to frame on the line, median of {CLICKS}",
            f"{click_ms:.2f} ms", "-", "-", "< 5 ms", click_ms < 5),
        row("latency: frame on the line to RData painted, median of 50 (in-process probe)",
            f"{rdata_ms:.2f} ms", "-", "-", "< 5 ms", rdata_ms < 5),
        row(f"comloop-check on the pty cable: {CHECK_FRAMES} frames, median of {CHECK_RUNS} runs",
            f"{check_fps:.0f} frames/s (round trip {check_trip_ms:.2f} ms)",
            f"{LINE_FRAMES_PER_SECOND} frames/s (a {LINE_BAUD} 8N1 line)",
            f"{check_fps / LINE_FRAMES_PER_SECOND:.0f}",
            f">= {LINE_FRAMES_PER_SECOND} frames/s", check_fps >= LINE_FRAMES_PER_SECOND),
    ]
    print("\n".join(rows))
    load = os.getloadavg()
    print(f"\n{os.cpu_count()} cores; load average {load[0]:.2f} now, {load[2]:.2f} over "
          f"15 min; the bench took {time.monotonic() - began:.0f} s")


if __name__ == "__main__":
    main()
