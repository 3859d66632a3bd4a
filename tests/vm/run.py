#!/usr/bin/env python3
"""The floppy writer against the kernel's own drivers: QEMU boots Debian's kernel with an
initramfs of busybox, the floppy and USB storage drivers and a static floppyset. /dev/fd0
and /dev/fd1 are the emulated controller's drives, /dev/sda an emulated 1.44 MB USB floppy.
The host answers floppyset's questions on the serial line and changes disks through the
QEMU monitor, then compares the disk image files with the set's images.
Usage: run.py BUILD_DIR   (exit 0 also when QEMU or the kernel is missing: it says so)"""
import glob, os, re, shutil, socket, subprocess, sys, tempfile, time

CYLINDER = 18432
DISK = 80 * CYLINDER
HERE = os.path.dirname(os.path.abspath(__file__))
MODULES = ["usb-common", "usbcore", "ehci-hcd", "ehci-pci", "scsi_common", "scsi_mod",
           "crc64", "crc64-rocksoft", "crct10dif_common", "crc-t10dif", "t10-pi", "sd_mod",
           "usb-storage", "floppy"]
failures = []


def check(what, ok):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def skip(reason):
    print("vm test skipped: " + reason)
    sys.exit(0)


def run(*args, **kw):
    return subprocess.run(args, check=True, **kw)


class Guest:
    """The booted machine: its serial line (the guest's terminal) and QEMU's monitor."""

    def __init__(self, work, qemu_args):
        self.serial_path, self.monitor_path = work + "/serial", work + "/monitor"
        self.qemu = subprocess.Popen(qemu_args + [
            "-chardev", f"socket,id=s0,path={self.serial_path},server=on,wait=on",
            "-serial", "chardev:s0",
            "-monitor", f"unix:{self.monitor_path},server=on,wait=off"],
            stdout=subprocess.DEVNULL)
        self.serial = self._connect(self.serial_path)
        self.monitor = self._connect(self.monitor_path)
        self.seen = ""  # serial output not consumed by expect yet
        self.monitor_seen, self.changes = "", 0
        self.log = open(work + "/serial.log", "w")

    @staticmethod
    def _connect(path):
        for _ in range(100):
            try:
                s = socket.socket(socket.AF_UNIX)
                s.connect(path)
                return s
            except OSError:
                time.sleep(0.1)
        raise RuntimeError("QEMU did not start")

    def expect(self, pattern, timeout=120):
        """Serial output up to and including the first match of `pattern`."""
        deadline = time.time() + timeout
        while True:
            m = re.search(pattern, self.seen, re.S)
            if m:
                text, self.seen = self.seen[:m.end()], self.seen[m.end():]
                return text, m
            self.serial.settimeout(max(0.1, deadline - time.time()))
            try:
                data = self.serial.recv(65536).decode("latin-1")
            except socket.timeout:
                data = None
            if not data or time.time() > deadline:
                raise RuntimeError(f"no {pattern!r} on the serial line; last output:\n"
                                   + self.seen[-2000:])
            self.log.write(data)
            self.log.flush()
            self.seen += data.replace("\r", "")

    def send(self, line):
        self.serial.sendall((line + "\n").encode())

    def change(self, image):
        """Puts another disk into fd0; returns when the monitor has done it."""
        self.monitor.sendall(f"change floppy0 {image} raw\n".encode())
        self.changes += 1
        self.monitor.settimeout(30)
        while self.monitor_seen.count("(qemu)") <= self.changes:
            self.monitor_seen += self.monitor.recv(4096).decode("latin-1")

    def step(self, name, command, dialogue=()):
        """Runs `command` in the guest, answering each (pattern, action) in turn; returns
        the exit status and the output."""
        self.send(f"{name} {command}")
        output = ""
        for pattern, action in dialogue:
            text, _ = self.expect(pattern)
            output += text
            action(text)
        text, m = self.expect(rf"@@rc {name} (\d+)")
        return int(m.group(1)), output + text


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    kernels = sorted(glob.glob("/boot/vmlinuz-*"))
    busybox = shutil.which("busybox")
    if not shutil.which("qemu-system-x86_64") or not kernels or not busybox:
        skip("needs qemu-system-x86_64, a kernel in /boot and busybox-static "
             "(scripts/install-deps.sh installs them)")
    floppyset = build + "/tests/vm/floppyset_static"
    probe = build + "/tests/vm/vm_format_probe"
    mkfloppyset = build + "/mkfloppyset"
    for tool in (floppyset, probe, mkfloppyset):
        if not os.access(tool, os.X_OK):
            sys.exit(f"vm test: {tool} is missing (build the tests first)")
    kernel = kernels[-1]
    release = os.path.basename(kernel)[len("vmlinuz-"):]
    work = tempfile.mkdtemp(prefix="floppyset-vm-")
    try:
        return test(work, kernel, release, busybox, floppyset, probe, mkfloppyset)
    finally:
        if not os.environ.get("KEEP_VM_WORK"):
            shutil.rmtree(work, ignore_errors=True)


def make_initramfs(work, release, busybox, programs):
    root = work + "/root"
    os.makedirs(root + "/bin")
    os.makedirs(root + "/modules")
    for d in ("proc", "sys", "dev", "tmp"):
        os.makedirs(f"{root}/{d}")
    shutil.copy(busybox, root + "/bin/busybox")
    shutil.copy(HERE + "/init", root + "/init")
    for name, path in programs.items():
        shutil.copy(path, f"{root}/bin/{name}")
    order = []
    for module in MODULES:
        found = subprocess.run(["modinfo", "-k", release, "-n", module], capture_output=True,
                               text=True).stdout.strip()
        if not found:
            continue  # built into this kernel
        target = os.path.basename(found)
        if found.endswith(".xz"):
            target = target[:-3]
            run("sh", "-c", f"xz -dc '{found}' > '{root}/modules/{target}'")
        else:
            shutil.copy(found, f"{root}/modules/{target}")
        order.append(target)
    with open(root + "/modules/order", "w") as f:
        f.write("\n".join(order) + "\n")
    image = work + "/initramfs.gz"
    run("sh", "-c", f"cd '{root}' && find . | cpio -o -H newc --quiet | gzip -1 > '{image}'")
    return image


def make_set(work, mkfloppyset):
    src = work + "/src"
    for disk, size in (("disk1", 1_457_000), ("disk2", 150_000)):
        os.makedirs(f"{src}/{disk}")
        with open(f"{src}/{disk}/DATA.BIN", "wb") as f:
            f.write(os.urandom(size))
    run(mkfloppyset, "--fat12", "-o", work + "/img", src + "/disk1", src + "/disk2",
        stdout=subprocess.DEVNULL)
    run(mkfloppyset, "-o", work + "/set.exe", "--product=VM Demo", "--verify=1",
        work + "/img/disk1.img", work + "/img/disk2.img", stdout=subprocess.DEVNULL)
    return [work + "/img/disk1.img", work + "/img/disk2.img"]


def blank(path, byte=0):
    with open(path, "wb") as f:
        f.write(bytes([byte]) * DISK)


def same_written(floppy, image, what):
    """The floppy equals the image up to its last cylinder holding data, and nothing else was
    written (the floppies start blank)."""
    with open(floppy, "rb") as f:
        a = f.read()
    with open(image, "rb") as f:
        b = f.read()
    used = next((c for c in range(80, 0, -1) if any(b[(c - 1) * CYLINDER:c * CYLINDER])), 0)
    check(f"{what}: equals the set's image over its {used} used cylinders, blank behind them",
          used > 0 and a[:used * CYLINDER] == b[:used * CYLINDER] and not any(a[used * CYLINDER:]))


def test(work, kernel, release, busybox, floppyset, probe, mkfloppyset):
    images = make_set(work, mkfloppyset)
    initramfs = make_initramfs(work, release, busybox,
                               {"floppyset": floppyset, "vm_format_probe": probe,
                                "set.exe": work + "/set.exe"})
    fd0 = [work + "/fd0-scratch.img", work + "/fd0-disk1.img", work + "/fd0-disk2.img"]
    blank(fd0[0], 0xAA)
    blank(fd0[1])
    blank(fd0[2])
    blank(work + "/usb.img")
    blank(work + "/protected.img", 0x55)
    os.chmod(work + "/protected.img", 0o444)
    started = time.time()
    guest = Guest(work, [
        "qemu-system-x86_64", "-machine", "pc", "-accel", "tcg", "-m", "256", "-nographic",
        "-no-reboot", "-kernel", kernel, "-initrd", initramfs,
        "-append", "console=ttyS0 quiet panic=-1",
        "-drive", f"if=floppy,index=0,format=raw,file={fd0[0]}",
        "-drive", f"if=floppy,index=1,format=raw,readonly=on,file={work}/protected.img",
        "-device", "usb-ehci,id=ehci",
        "-drive", f"if=none,id=usbdisk,format=raw,file={work}/usb.img",
        "-device", "usb-storage,bus=ehci.0,drive=usbdisk,removable=on"])
    try:
        guest.expect("@@ready")
        print(f"guest up in {time.time() - started:.1f} s")
        steps(guest, images, fd0, work)
        guest.send("end")
        guest.qemu.wait(timeout=60)
    finally:
        if guest.qemu.poll() is None:
            guest.qemu.kill()
    print(f"vm test: {time.time() - started:.1f} s")
    return 1 if failures else 0


def steps(guest, images, fd0, work):
    ok = lambda _: guest.send("o")
    cancel = lambda _: guest.send("c")

    # The device layer's format path: the emulated drive never refuses a write.
    def overwrite(_):
        with open(fd0[0], "r+b") as f:
            scratch = f.read()
            f.seek(60 * CYLINDER)
            f.write(b"\x33" * CYLINDER)
        scratches.append(scratch)
        guest.send("")
    scratches = []
    status, out = guest.step("probe", "vm_format_probe /dev/fd0",
                             [(r"overwrite cylinder 60.*?\n", overwrite)])
    check("format probe: formats, writes and reads back through the driver's ioctls",
          "format probe: ok" in out)
    check("read-back probe: a read-back reads the medium, not the driver's track buffer",
          status == 0 and "read-back probe: ok" in out)
    scratch = scratches[0] if scratches else b""
    pattern = bytes((i * 7 + i // 512) & 0xFF for i in range(CYLINDER))
    check("format probe: cylinder 60 holds the pattern on the medium, 59 is untouched",
          scratch[60 * CYLINDER:61 * CYLINDER] == pattern
          and scratch[59 * CYLINDER:60 * CYLINDER] == b"\xAA" * CYLINDER)

    # The whole set through /dev/fd0, a disk change at each prompt, read-back on.
    def insert(disk):
        return lambda _: (guest.change(fd0[disk]), guest.send("o"))
    drive_list = {}
    status, out = guest.step("set", "floppyset /bin/set.exe", [
        (r"OK or Cancel\? \[o/c\] ", ok),  # create the floppies?
        (r"Drive number.*?: ", lambda text: (drive_list.update(text=text), guest.send("1"))),
        (r"Disk 1/2.*?OK or Cancel\? \[o/c\] ", insert(1)),
        (r"Disk 2/2.*?OK or Cancel\? \[o/c\] ", insert(2)),
        (r"Press Enter to continue\.", lambda _: guest.send("")),
    ])
    check("set: floppyset ends with status 0", status == 0)
    check("set: the drive list holds fd0, fd1 and the USB floppy",
          all(d in drive_list.get("text", "") for d in ("/dev/fd0", "/dev/fd1", "/dev/sda")))
    for disk in (1, 2):
        same_written(fd0[disk], images[disk - 1], f"set: disk {disk} in /dev/fd0")

    # Disk 2 to the USB floppy, chosen from the list.
    status, out = guest.step("usb", "floppyset /bin/set.exe /C:2", [
        (r"\d\) /dev/sda.*?Drive number.*?: ",
         lambda text: guest.send(re.search(r"(\d)\) /dev/sda", text).group(1))),
        (r"Disk 2/2.*?OK or Cancel\? \[o/c\] ", ok),
        (r"Press Enter to continue\.", lambda _: guest.send("")),
    ])
    check("usb: floppyset ends with status 0", status == 0)
    same_written(work + "/usb.img", images[1], "usb: disk 2 in /dev/sda")

    # A write-protected disk: the retry prompt, Cancel, Cancel at the prompt again.
    status, out = guest.step("protected", "floppyset /bin/set.exe /C:1 --device=/dev/fd1", [
        (r"Disk 1/2.*?OK or Cancel\? \[o/c\] ", ok),
        (r"Floppy access error!.*?Retry or Cancel\? \[r/c\] ", cancel),
        (r"Disk 1/2.*?OK or Cancel\? \[o/c\] ", cancel),
    ])
    check("protected: ends as cancelled (status 4)", status == 4)
    with open(work + "/protected.img", "rb") as f:
        untouched = f.read() == b"\x55" * DISK
    check("protected: nothing reported as written, the disk untouched",
          "Congratulations" not in out and untouched)

    # The figures: a full disk through the emulated controller, read-back on, against the
    # same program run that only extracts and checks the set.
    def timed(name, command):
        status, out = guest.step(name, "time " + command)
        times = {k: float(m or 0) * 60 + float(sec) for k, m, sec in
                 re.findall(r"(real|user|sys)\s+(?:(\d+)m\s*)?([\d.]+)s", out)}
        return status, times
    status, base = timed("extract", "floppyset /bin/set.exe /P >/dev/null")
    guest.change(fd0[0])
    status, full = timed("timed", "floppyset /bin/set.exe /C:1 --device=/dev/fd0 --yes")
    check("timed: floppyset ends with status 0", status == 0)
    same_written(fd0[0], images[0], "timed: disk 1 in /dev/fd0")
    if full.get("real") and base.get("real"):
        real = full["real"] - base["real"]
        user, system = full["user"] - base["user"], full["sys"] - base["sys"]
        print(f"figure: a full disk (80 cylinders, read back) in {real:.1f} s guest time "
              f"(the run {full['real']:.1f} s less {base['real']:.1f} s of extraction); "
              f"floppyset in user mode {user:.2f} s ({100 * user / real:.0f} %), in system calls "
              f"{system:.2f} s ({100 * system / real:.0f} %)")


if __name__ == "__main__":
    sys.exit(main())
