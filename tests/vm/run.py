#!/usr/bin/env python3
"""The floppy writer against the kernel's own drivers: QEMU boots Debian's kernel with an
initramfs of busybox, the floppy and USB storage drivers and a static floppyset, which the
host answers on the serial line; it changes disks through the QEMU monitor and compares the
disk image files (fd0, write-protected fd1, a USB floppy) with the set's images.
Usage: run.py BUILD_DIR   (exit 0 also when QEMU or the kernel is missing: it says so)"""
import glob, os, re, shutil, socket, subprocess, sys, tempfile, time

CYL = 18432
DISK = 80 * CYL
MODULES = ["usb-common", "usbcore", "ehci-hcd", "ehci-pci", "scsi_common", "scsi_mod", "crc64",
           "crc64-rocksoft", "crct10dif_common", "crc-t10dif", "t10-pi", "sd_mod", "usb-storage",
           "floppy"]
failures = []


def check(what, ok):
    print(("ok   " if ok else "FAIL ") + what)
    failures.extend([] if ok else [what])


def sh(command):
    subprocess.run(command, shell=True, check=True, stdout=subprocess.DEVNULL)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data, at=0):
    with open(path, "r+b" if at else "wb") as f:
        f.seek(at)
        f.write(data)


def connect(path):
    for _ in range(100):
        try:
            s = socket.socket(socket.AF_UNIX)
            s.connect(path)
            return s
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("QEMU did not start")


class Guest:
    """The booted machine: its serial line (the guest's terminal) and QEMU's monitor."""

    def __init__(self, work, args):
        self.qemu = subprocess.Popen(args + [
            "-chardev", f"socket,id=s0,path={work}/serial,server=on,wait=on", "-serial",
            "chardev:s0", "-monitor", f"unix:{work}/monitor,server=on,wait=off"],
            stdout=subprocess.DEVNULL)
        self.serial, self.monitor = connect(work + "/serial"), connect(work + "/monitor")
        self.seen, self.monitor_seen, self.changes = "", "", 0

    def expect(self, pattern, timeout=120):
        """Serial output up to and including the first match of `pattern`."""
        deadline = time.time() + timeout
        while not (m := re.search(pattern, self.seen, re.S)):
            self.serial.settimeout(max(0.1, deadline - time.time()))
            try:
                data = self.serial.recv(65536).decode("latin-1")
                assert data and time.time() < deadline
            except (socket.timeout, AssertionError):
                raise RuntimeError(f"no {pattern!r} on the serial line; last:\n{self.seen[-2000:]}")
            self.seen += data.replace("\r", "")
        text, self.seen = self.seen[:m.end()], self.seen[m.end():]
        return text

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
        """Runs `command` in the guest, answering each (pattern, reply) in turn (a reply is a
        line to send or a function of the output so far); returns the status and the output."""
        self.send(f"{name} {command}")
        out = ""
        for pattern, reply in dialogue:
            out += self.expect(pattern)
            self.send(reply) if isinstance(reply, str) else reply(out)
        out += self.expect(rf"@@rc {name} \d+")
        return int(re.search(rf"@@rc {name} (\d+)", out).group(1)), out


def make_initramfs(work, release, programs):
    root = work + "/root"
    for d in ("bin", "modules", "proc", "sys", "dev", "tmp"):
        os.makedirs(f"{root}/{d}")
    programs["../init"] = os.path.dirname(os.path.abspath(__file__)) + "/init"
    for name, path in programs.items():
        shutil.copy(path, f"{root}/bin/{name}")
    order = []
    for module in MODULES:  # a module that modinfo does not find is built into this kernel
        found = subprocess.run(["modinfo", "-k", release, "-n", module], capture_output=True,
                               text=True).stdout.strip()
        if found:
            order.append(os.path.basename(found).removesuffix(".xz"))
            sh(f"xz -dcf '{found}' > '{root}/modules/{order[-1]}'")
    write(root + "/modules/order", ("\n".join(order) + "\n").encode())
    sh(f"cd '{root}' && find . | cpio -o -H newc --quiet | gzip -1 > '{work}/initramfs.gz'")
    return work + "/initramfs.gz"


def same_written(what, status, floppy, image):
    """Status 0, and the floppy equals the image up to its last cylinder holding data and is
    still blank behind it."""
    a, b = read(floppy), read(image)
    used = next((c for c in range(80, 0, -1) if any(b[(c - 1) * CYL:c * CYL])), 0)
    check(f"{what}: status 0, the set's image over its {used} used cylinders, blank behind",
          status == 0 and used > 0 and a[:used * CYL] == b[:used * CYL] and not any(a[used * CYL:]))


def test(work, kernel, busybox, build):
    src, img, mk = work + "/src", work + "/img", build + "/mkfloppyset"
    for disk, size in (("disk1", 1_457_000), ("disk2", 150_000)):
        os.makedirs(f"{src}/{disk}")
        write(f"{src}/{disk}/DATA.BIN", os.urandom(size))
    sh(f"'{mk}' --fat12 -o '{img}' '{src}/disk1' '{src}/disk2' && '{mk}' -o '{work}/set.exe' "
       f"--product='VM Demo' --verify=1 '{img}/disk1.img' '{img}/disk2.img'")
    initramfs = make_initramfs(work, os.path.basename(kernel)[len("vmlinuz-"):], {
        "busybox": busybox, "floppyset": build + "/tests/vm/floppyset_static",
        "vm_format_probe": build + "/tests/vm/vm_format_probe", "set.exe": work + "/set.exe"})
    fd0 = [f"{work}/fd0-{i}.img" for i in range(3)]
    for path, byte in ((fd0[0], 0xAA), (fd0[1], 0), (fd0[2], 0), (work + "/usb.img", 0),
                       (work + "/protected.img", 0x55)):
        write(path, bytes([byte]) * DISK)
    os.chmod(work + "/protected.img", 0o444)
    guest = Guest(work, [
        "qemu-system-x86_64", "-machine", "pc", "-accel", "tcg", "-m", "256", "-nographic",
        "-no-reboot", "-kernel", kernel, "-initrd", initramfs, "-append",
        "console=ttyS0 quiet panic=-1", "-drive", f"if=floppy,index=0,format=raw,file={fd0[0]}",
        "-drive", f"if=floppy,index=1,format=raw,readonly=on,file={work}/protected.img",
        "-device", "usb-ehci,id=ehci", "-drive", f"if=none,id=usb,format=raw,file={work}/usb.img",
        "-device", "usb-storage,bus=ehci.0,drive=usb,removable=on"])
    try:
        guest.expect("@@ready")
        steps(guest, [img + "/disk1.img", img + "/disk2.img"], fd0, work)
        guest.send("end")
        guest.qemu.wait(timeout=60)
    finally:
        if guest.qemu.poll() is None:
            guest.qemu.kill()
    return 1 if failures else 0


def steps(guest, images, fd0, work):
    prompt, done = r"OK or Cancel\? \[o/c\] ", (r"Press Enter to continue\.", "")

    # The device layer's format path (the emulated drive never refuses a write), then the
    # host changes cylinder 60 behind the driver's back: a read-back must see the medium.
    medium = []
    status, out = guest.step("probe", "vm_format_probe /dev/fd0", [(
        r"overwrite cylinder 60.*?\n",
        lambda _: (medium.append(read(fd0[0])), write(fd0[0], b"\x33" * CYL, 60 * CYL),
                   guest.send("")))])
    medium = medium[0] if medium else b""
    check("format probe: formats, writes and reads back through the driver's ioctls; cylinder "
          "60 holds the pattern on the medium, 59 is untouched",
          "format probe: ok" in out and medium[59 * CYL:60 * CYL] == b"\xAA" * CYL
          and medium[60 * CYL:61 * CYL] == bytes((i * 7 + i // 512) & 0xFF for i in range(CYL)))
    check("read-back probe: a read-back reads the medium, not the driver's track buffer",
          status == 0 and "read-back probe: ok" in out)

    # The whole set through /dev/fd0, a disk change at each prompt, read-back on.
    insert = lambda disk: lambda _: (guest.change(fd0[disk]), guest.send("o"))
    status, out = guest.step("set", "floppyset /bin/set.exe", [
        (prompt, "o"), (r"Drive number.*?: ", "1"), (r"Disk 1/2.*?" + prompt, insert(1)),
        (r"Disk 2/2.*?" + prompt, insert(2)), done])
    check("set: the drive list holds fd0, fd1 and the USB floppy",
          all(f") {d}" in out for d in ("/dev/fd0", "/dev/fd1", "/dev/sda")))
    for disk in (1, 2):
        same_written(f"set: disk {disk} in /dev/fd0", status, fd0[disk], images[disk - 1])

    # Disk 2 to the USB floppy, found through sysfs and chosen from the list; a real drive is
    # warned about before every run, /C:n included.
    warning = (r"WARNING!.*?" + prompt, "o")
    status, _ = guest.step("usb", "floppyset /bin/set.exe /C:2", [
        warning, (r"\d\) /dev/sda.*?Drive number.*?: ",
         lambda text: guest.send(re.search(r"(\d)\) /dev/sda", text).group(1))),
        (r"Disk 2/2.*?" + prompt, "o"), done])
    same_written("usb: disk 2 in /dev/sda", status, work + "/usb.img", images[1])

    # A write-protected disk: the retry prompt with the cause, Cancel, Cancel at the prompt
    # again: the disk was not written, a failure.
    status, out = guest.step("protected", "floppyset /bin/set.exe /C:1 --device=/dev/fd1", [
        warning, (r"Disk 1/2.*?" + prompt, "o"),
        (r"Floppy access error!.*?Retry or Cancel\? \[r/c\] ", "c"),
        (r"Disk 1/2.*?" + prompt, "c"), done])
    check("protected: ends as failed (status 1) naming /dev/fd1, nothing reported as written, "
          "disk untouched",
          status == 1 and "Congratulations" not in out and "was not written: " in out
          and "/dev/fd1: " in out
          and read(work + "/protected.img") == b"\x55" * DISK)

    # A full disk given with --device, the warning answered by --yes.
    guest.change(fd0[0])
    status, _ = guest.step("device", "floppyset /bin/set.exe /C:1 --device=/dev/fd0 --yes")
    same_written("device: disk 1 in /dev/fd0", status, fd0[0], images[0])


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    kernels, busybox = sorted(glob.glob("/boot/vmlinuz-*")), shutil.which("busybox")
    if not shutil.which("qemu-system-x86_64") or not kernels or not busybox:
        print("vm test skipped: needs qemu-system-x86_64, a kernel in /boot and busybox-static "
              "(scripts/install-deps.sh installs them)")
        return 0
    for tool in ("tests/vm/floppyset_static", "tests/vm/vm_format_probe", "mkfloppyset"):
        if not os.access(f"{build}/{tool}", os.X_OK):
            sys.exit(f"vm test: {build}/{tool} is missing (build the tests first)")
    work = tempfile.mkdtemp(prefix="floppyset-vm-")
    try:
        return test(work, kernels[-1], busybox, build)
    finally:
        if not os.environ.get("KEEP_VM_WORK"):
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
