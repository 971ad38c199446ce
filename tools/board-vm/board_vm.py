#!/usr/bin/env python3
"""The board in a virtual machine: boots a Debian 12 arm64 image under
full-system emulation (real kernel, systemd, udev and /dev/mem), runs a
scenario with the project's arm64 packages there and brings back its logs
and verdict. See docs/board-vm.md; the entry point is scripts/board-vm."""

import argparse
import fcntl
import hashlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import boardvm_logic as logic

HERE = Path(__file__).resolve().parent
REPO = HERE.parent.parent
GUEST = HERE / "guest"
SCENARIOS = HERE / "scenarios"
CACHE = Path(os.environ.get("CORVANE_BOARD_VM_CACHE", "/var/cache/corvane/board-vm"))
FASTDDS_DEBS = Path("/var/cache/corvane/fastdds/arm64")
MIRROR = "http://deb.debian.org/debian"

# The guest: 2 processors (the board's count), 1 GiB.
SMP = 2
RAM_MIB = 1024
# Pointer authentication with QEMU's own algorithm: the guest kernel uses
# it, and emulating the architected one costs 2.5 times the time.
CPU = "max,pauth-impdef=on"
KERNEL_ARGS = "root=/dev/vda rw console=ttyAMA0 panic=-1 loglevel=4"

# Scenarios in the order they run; "suite" only when named.
ALL_SCENARIOS = ("install", "supervision", "shm", "upgrade", "suite")
DEFAULT_SCENARIOS = ("install", "supervision", "shm", "upgrade")
# Bound of one boot, run and power-off, seconds (before any --timeout-scale).
SCENARIO_TIMEOUT = {"install": 600, "supervision": 900, "shm": 900, "upgrade": 600, "suite": 3600}

# QEMU 10 from Debian 13: it raises the alignment fault of an unaligned
# access to device memory, as the board's processor does; Debian 12's
# QEMU 7.2 lets such an access through.
QEMU_SUITE = "trixie"
QEMU_PACKAGES = ("qemu-system-arm", "qemu-utils", "device-tree-compiler")
IMAGE_SUITE = "bookworm"
IMAGE_SIZE = "2G"


def say(text):
    print(f"board-vm: {text}", flush=True)


def run(cmd, **kw):
    """Runs `cmd`, raising with its output on failure."""
    kw.setdefault("check", True)
    return subprocess.run([str(c) for c in cmd], **kw)


def run_logged(cmd, log):
    """Runs `cmd` with its output in the file `log`; on failure the end of
    that output is printed and the failure raised."""
    with open(log, "w") as out:
        result = subprocess.run([str(c) for c in cmd], stdout=out, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        lines = Path(log).read_text(errors="replace").splitlines()
        print("\n".join(lines[-30:]), file=sys.stderr)
        raise subprocess.CalledProcessError(result.returncode, cmd)


def niced(cmd):
    return ["nice", "-n", "10", *[str(c) for c in cmd]]


# --- Host tools -----------------------------------------------------------------


def ensure_host_tools():
    """mmdebstrap and arch-test from Debian 12, and the arm64 emulation
    that mmdebstrap needs to set up an arm64 root (registered by
    scripts/cross-build, which also installs the cross compiler)."""
    missing = [p for p in ("mmdebstrap", "arch-test", "e2fsprogs", "dpkg-dev")
               if subprocess.run(["dpkg-query", "-W", "-f=${Status}", p], capture_output=True,
                                 text=True).stdout.find("install ok installed") < 0]
    if missing:
        say("installing " + " ".join(missing))
        apt = ["apt-get", "-o", "DPkg::Lock::Timeout=900", "install", "-y", "-qq", "--no-install-recommends"]
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        if subprocess.run(apt + missing, env=env, capture_output=True).returncode != 0:
            run(["apt-get", "update", "-qq"], env=env)
            run(apt + missing, env=env, stdout=subprocess.DEVNULL)


class Qemu:
    """QEMU 10 and dtc from a Debian 13 root in the cache, run through
    that root's own dynamic loader and libraries (nothing of it is
    installed on the host)."""

    def __init__(self, root):
        self.root = root
        self.loader = root / "lib64/ld-linux-x86-64.so.2"
        self.libs = ":".join(str(root / d) for d in ("usr/lib/x86_64-linux-gnu", "lib/x86_64-linux-gnu"))
        self.env = dict(os.environ, QEMU_MODULE_DIR=str(root / "usr/lib/x86_64-linux-gnu/qemu"))

    def cmd(self, program, *args):
        return [str(self.loader), "--library-path", self.libs, str(self.root / "usr/bin" / program), *map(str, args)]

    def version(self):
        out = run(self.cmd("qemu-system-aarch64", "--version"), capture_output=True, text=True, env=self.env)
        return out.stdout.splitlines()[0]


def ensure_qemu(rebuild):
    key = logic.cache_key("qemu", QEMU_SUITE, *QEMU_PACKAGES)
    root = CACHE / f"qemu-{key}"
    if rebuild and root.exists():
        shutil.rmtree(root)
    if not (root / ".complete").exists():
        say(f"making the QEMU root (Debian {QEMU_SUITE}: {', '.join(QEMU_PACKAGES)})")
        started = time.monotonic()
        remove_stale(CACHE, "qemu-", keep=root.name)
        partial = CACHE / f"{root.name}.partial"
        shutil.rmtree(partial, ignore_errors=True)
        log = CACHE / f"{root.name}.log"
        run_logged(niced(["mmdebstrap", "--variant=apt", "--aptopt=Apt::Install-Recommends \"false\"",
                          "--include=" + ",".join(QEMU_PACKAGES), QEMU_SUITE, partial, MIRROR]), log)
        partial.rename(root)
        (root / ".complete").write_text(f"{time.monotonic() - started:.0f}\n")
        say(f"QEMU root made in {time.monotonic() - started:.0f} s")
    return Qemu(root)


def remove_stale(folder, prefix, keep):
    """Older cached roots and images: only the current one is kept."""
    for p in folder.glob(prefix + "*"):
        if p.name != keep and not p.name.startswith(keep):
            say(f"removing the outdated {p.name}")
            if p.is_dir():
                shutil.rmtree(p, ignore_errors=True)
            else:
                p.unlink(missing_ok=True)


# --- Packages -------------------------------------------------------------------


def deb_field(deb, field):
    return run(["dpkg-deb", "-f", deb, field], capture_output=True, text=True).stdout.strip()


def newest(folder, pattern):
    found = sorted(folder.glob(pattern), key=lambda p: p.stat().st_mtime)
    return found[-1] if found else None


def project_packages(debs_dir):
    """The arm64 server and stand-ins packages: from `debs_dir` when
    given, else built now (scripts/package --arm64)."""
    if debs_dir is None:
        say("building the arm64 packages (scripts/package --arm64)")
        run_logged([REPO / "scripts/package", "--arm64", "--no-lintian"], CACHE / "package.log")
        debs_dir = REPO / "dist"
    server = newest(debs_dir, "corvane-pnt-server_*_arm64.deb")
    standins = newest(debs_dir, "corvane-pnt-dev-standins_*_arm64.deb")
    if server is None or standins is None:
        raise logic.BoardVmError(f"{debs_dir}: no arm64 server or stand-ins package")
    return server, standins


def extra_packages(image_package_names):
    """Our own builds of Debian libraries, installed with the server."""
    debs = [(p, deb_field(p, "Package")) for p in sorted(FASTDDS_DEBS.glob("*.deb"))]
    return [p for p, _ in logic.select_extra_debs(debs, image_package_names)]


def make_next_version(server, folder):
    """Version N+1 of the server package, made from N: the next Debian
    revision, and one sample conffile (devices.xml) changed, so that an
    upgrade has a conffile of its own to replace beside the one the
    user changed."""
    work = folder / "unpacked"
    shutil.rmtree(work, ignore_errors=True)
    run(["dpkg-deb", "-R", server, work])
    control = work / "DEBIAN/control"
    version = logic.next_version(deb_field(server, "Version"))
    control.write_text(logic.with_version(control.read_text(), version))
    changed = "/opt/corvane/config/devices.xml"
    target = work / changed.lstrip("/")
    target.write_text(target.read_text() + "<!-- upgraded package -->\n")
    sums = work / "DEBIAN/md5sums"
    lines = []
    for line in sums.read_text().splitlines(keepends=True):
        if line.rstrip("\n").endswith(changed.lstrip("/")):
            line = logic.md5sums_line(hashlib.md5(target.read_bytes()).hexdigest(), changed)
        lines.append(line)
    sums.write_text("".join(lines))
    out = folder / server.name.replace(deb_field(server, "Version"), version)
    run(["dpkg-deb", "--root-owner-group", "-Zxz", "-b", work, out], stdout=subprocess.DEVNULL)
    shutil.rmtree(work)
    return out


# --- Image ----------------------------------------------------------------------


class Image:
    def __init__(self, folder):
        self.folder = folder
        self.disk = folder / "root.img"
        self.kernel = folder / "vmlinuz"
        self.initrd = folder / "initrd.img"


def ensure_image(packages, rebuild):
    guest_files = sorted(GUEST.iterdir())
    key = logic.cache_key("image", IMAGE_SUITE, IMAGE_SIZE, *packages,
                          *[f.name.encode() + f.read_bytes() for f in guest_files])
    image = Image(CACHE / f"image-{key}")
    if rebuild and image.folder.exists():
        shutil.rmtree(image.folder)
    if (image.folder / ".complete").exists():
        return image, None
    say(f"making the image (Debian {IMAGE_SUITE} arm64, {len(packages)} packages and their dependencies)")
    started = time.monotonic()
    remove_stale(CACHE, "image-", keep=image.folder.name)
    partial = CACHE / f"{image.folder.name}.partial"
    shutil.rmtree(partial, ignore_errors=True)
    partial.mkdir(parents=True)
    root = partial / "root"
    hooks = [
        # A small initramfs: only what mounts the root of a virt machine.
        "--essential-hook=mkdir -p \"$1/etc/initramfs-tools/conf.d\" \"$1/etc/initramfs-tools/hooks\""
        " && echo MODULES=list > \"$1/etc/initramfs-tools/conf.d/board-vm\"",
        f"--essential-hook=copy-in {GUEST / 'initramfs-hook'} /etc/initramfs-tools/hooks/",
        f"--customize-hook=copy-in {GUEST / 'board-vm-run'} /usr/local/sbin/",
        f"--customize-hook=copy-in {GUEST / 'board-vm-run.service'} /etc/systemd/system/",
        "--customize-hook=chroot \"$1\" systemctl enable board-vm-run.service",
        # The journal kept in memory only; no login prompt on the console.
        "--customize-hook=chroot \"$1\" systemctl mask serial-getty@ttyAMA0.service",
        "--customize-hook=echo '/dev/vda / ext4 rw,errors=remount-ro 0 1' > \"$1/etc/fstab\";"
        " echo board > \"$1/etc/hostname\"",
        "--customize-hook=chroot \"$1\" dpkg-query -W > \"$1/../packages.txt\"",
        "--customize-hook=cp -L \"$1/vmlinuz\" \"$1/../vmlinuz\"; cp -L \"$1/initrd.img\" \"$1/../initrd.img\"",
    ]
    run_logged(niced(["mmdebstrap", "--arch=arm64", "--variant=minbase",
                      "--aptopt=Apt::Install-Recommends \"false\"",
                      "--include=" + ",".join(packages), *hooks, IMAGE_SUITE, root, MIRROR]),
               CACHE / f"{image.folder.name}.log")
    run(["mkfs.ext4", "-q", "-L", "board", "-d", root, partial / "root.img", IMAGE_SIZE])
    shutil.rmtree(root)
    partial.rename(image.folder)
    (image.folder / ".complete").write_text(f"{time.monotonic() - started:.0f}\n")
    seconds = time.monotonic() - started
    say(f"image made in {seconds:.0f} s")
    return image, seconds


def make_dtb(qemu, folder, window, machine_args):
    """The virt machine's device tree with the FPGA window reserved
    (no-map): the kernel leaves it alone and /dev/mem maps it as device
    memory, as the board's FPGA registers."""
    plain = folder / "virt.dtb"
    run(qemu.cmd("qemu-system-aarch64", *machine_args(f"dumpdtb={plain}")), env=qemu.env,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    dts = run(qemu.cmd("dtc", "-q", "-I", "dtb", "-O", "dts", plain), capture_output=True, text=True).stdout
    (folder / "board.dts").write_text(logic.add_reserved_memory(dts, *window))
    run(qemu.cmd("dtc", "-q", "-I", "dts", "-O", "dtb", "-o", folder / "board.dtb", folder / "board.dts"))
    return folder / "board.dtb"


# --- One boot -------------------------------------------------------------------


class Boot:
    """One boot of the image for one scenario: a qcow2 overlay over the
    clean image, guest RAM in a shared file (where the host's FPGA
    simulator writes the registers), the share, QEMU bounded in time."""

    def __init__(self, qemu, image, work, window, fpga_sim, devices, repo_share):
        self.qemu, self.image, self.work = qemu, image, work
        self.window, self.fpga_sim, self.devices, self.repo_share = window, fpga_sim, devices, repo_share
        self.ram = work / "ram"

    def machine_args(self, extra=None):
        machine = "virt,memory-backend=ram" + (f",{extra}" if extra else "")
        return ["-M", machine, "-cpu", CPU, "-accel", "tcg,thread=multi", "-smp", str(SMP),
                "-m", f"{RAM_MIB}M", "-object",
                f"memory-backend-file,id=ram,size={RAM_MIB}M,mem-path={self.ram},share=on",
                "-display", "none", "-nic", "none", "-no-reboot"]

    def run(self, share, timeout):
        overlay = self.work / "overlay.qcow2"
        overlay.unlink(missing_ok=True)
        run(self.qemu.cmd("qemu-img", "create", "-q", "-f", "qcow2", "-b", self.image.disk, "-F", "raw", overlay),
            env=self.qemu.env)
        with open(self.ram, "wb") as f:
            f.truncate(RAM_MIB << 20)
        dtb = make_dtb(self.qemu, self.work, self.window, self.machine_args)
        # The FPGA: registers filled before the guest starts, the counter
        # kept running while it runs. Offsets in the RAM file are physical
        # addresses less the RAM's base.
        sim_log = open(share / "out" / "fpga-sim.log", "w")
        sim = subprocess.Popen(niced([self.fpga_sim, "--memory", self.ram, "--memory-base", hex(logic.RAM_BASE),
                                      "--ready-file", self.work / "fpga.ready", self.devices]),
                               stdout=sim_log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while not (self.work / "fpga.ready").exists():
            if sim.poll() is not None or time.monotonic() > deadline:
                raise logic.BoardVmError("the FPGA simulator did not get ready (out/fpga-sim.log)")
            time.sleep(0.05)
        args = [*self.machine_args(), "-kernel", self.image.kernel, "-initrd", self.image.initrd, "-dtb", dtb,
                "-append", KERNEL_ARGS,
                "-drive", f"if=none,id=disk,file={overlay},format=qcow2", "-device", "virtio-blk-pci,drive=disk",
                "-virtfs", f"local,path={share},mount_tag=host,security_model=none,id=host",
                "-serial", f"file:{share / 'out' / 'console.log'}", "-monitor", "none"]
        if self.repo_share:
            args += ["-virtfs", f"local,path={REPO},mount_tag=repo,security_model=none,id=repo"]
        started = time.monotonic()
        proc = subprocess.Popen(niced(self.qemu.cmd("qemu-system-aarch64", *args)), env=self.qemu.env,
                                stdout=open(share / "out" / "qemu.log", "w"), stderr=subprocess.STDOUT)
        timed_out = False
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        seconds = time.monotonic() - started
        sim.send_signal(signal.SIGTERM)
        try:
            sim.wait(timeout=10)
        except subprocess.TimeoutExpired:
            sim.kill()
            sim.wait()
        sim_log.close()
        self.ram.unlink(missing_ok=True)
        overlay.unlink(missing_ok=True)
        return seconds, timed_out


# --- Scenarios ------------------------------------------------------------------


def prepare_share(share, scenario, server, standins, extras, next_server, probe):
    (share / "out").mkdir(parents=True)
    debs = share / "debs"
    debs.mkdir()
    for p in (server, standins, *extras):
        shutil.copy2(p, debs)
    if next_server is not None:
        (share / "debs-next").mkdir()
        shutil.copy2(next_server, share / "debs-next")
        for p in (standins, *extras):
            shutil.copy2(p, share / "debs-next")
    if probe is not None:
        shutil.copy2(probe, share / "unaligned-probe")
    shutil.copy2(SCENARIOS / "lib.sh", share / "lib.sh")
    shutil.copy2(SCENARIOS / f"{scenario}.sh", share / "scenario.sh")
    (share / "repo").write_text(f"{REPO}\n")
    run_script = share / "run"
    run_script.write_text("#!/bin/bash\ncd /mnt/host && exec bash ./scenario.sh\n")
    run_script.chmod(0o755)


def build_probe(folder):
    """The unaligned-access probe, for the guest; built here with the
    cross compiler, shipped in no package."""
    out = folder / "unaligned-probe"
    run(["aarch64-linux-gnu-gcc", "-O2", "-Wall", "-Wextra", "-static", "-o", out, HERE / "unaligned-probe.c"])
    return out


def native_fpga_sim(no_build):
    """The host's FPGA simulator (build/, the native build)."""
    build = Path(os.environ.get("CORVANE_BUILD_DIR", REPO / "build"))
    if no_build:
        return build / "tools/fpga-sim"
    run_logged(["cmake", "-S", REPO, "-B", build, "-G", "Ninja"], CACHE / "native-build.log")
    run_logged(["cmake", "--build", build, "-j", "2", "--target", "fpga-sim"], CACHE / "native-build.log")
    return build / "tools/fpga-sim"


def parse_args(argv):
    p = argparse.ArgumentParser(
        prog="board-vm",
        description="Runs scenarios with the arm64 packages in a full-system arm64 virtual machine.")
    p.add_argument("scenarios", nargs="*", metavar="SCENARIO",
                   help=f"one or more of {', '.join(ALL_SCENARIOS)}, or all (default: {' '.join(DEFAULT_SCENARIOS)})")
    p.add_argument("--debs", type=Path, help="take the arm64 packages from this folder instead of building them")
    p.add_argument("--no-build", action="store_true",
                   help="use build/ and build-arm64/ as they are (with --debs: build nothing)")
    p.add_argument("--out", type=Path, default=REPO / "build-arm64" / "board-vm",
                   help="where each scenario's logs go (default build-arm64/board-vm)")
    p.add_argument("--rebuild", action="store_true", help="make the QEMU root and the image anew")
    p.add_argument("--timeout-scale", type=float, default=1.0, help="multiply every scenario's time bound")
    p.add_argument("--keep", action="store_true", help="keep the working folder (overlay, RAM file)")
    a = p.parse_args(argv)
    names = list(a.scenarios) or list(DEFAULT_SCENARIOS)
    if names == ["all"]:
        names = list(ALL_SCENARIOS)
    for n in names:
        if n not in ALL_SCENARIOS:
            p.error(f"unknown scenario {n} (one of {', '.join(ALL_SCENARIOS)}, all)")
    a.scenarios = names
    return a


def main(argv):
    a = parse_args(argv)
    if os.geteuid() != 0:
        print("board-vm: run as root (the image is made with mmdebstrap, the share needs root)", file=sys.stderr)
        return 2
    CACHE.mkdir(parents=True, exist_ok=True)
    lock = open(CACHE / "lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        say("another board-vm run holds the machine; waiting for it")
        fcntl.flock(lock, fcntl.LOCK_EX)
    started = time.monotonic()
    ensure_host_tools()
    # The cross build, its compiler and the arm64 emulation mmdebstrap uses.
    if a.no_build and a.debs is None:
        raise logic.BoardVmError("--no-build needs --debs")
    server, standins = project_packages(a.debs)
    # The shared build tree's tests (shm, suite) and, with --debs, the cross
    # compiler of the probe and the emulation mmdebstrap needs.
    targets = {"shm": ["zozi_e2e_restart_tests"], "suite": ["all"]}
    wanted = sorted({t for n in a.scenarios for t in targets.get(n, [])}) or ["fpga-sim"]
    if not a.no_build and (a.debs is not None or wanted != ["fpga-sim"]):
        say("building " + ", ".join(wanted) + " for arm64 (scripts/cross-build)")
        run_logged([REPO / "scripts/cross-build", *[x for t in wanted for x in ("--target", t)]],
                   CACHE / "cross-build.log")
    qemu = ensure_qemu(a.rebuild)
    packages = logic.image_packages(deb_field(server, "Depends"))
    image, image_seconds = ensure_image(packages, a.rebuild)
    extras = extra_packages(packages)
    devices = REPO / "config/devices.xml"
    window = logic.fpga_window(logic.parse_devices(devices.read_text(), str(devices)), RAM_MIB)
    fpga_sim = native_fpga_sim(a.no_build)
    say(f"{qemu.version()}; image {image.folder.name}; packages {server.name}, {standins.name}"
        + "".join(f", {p.name}" for p in extras) + f"; FPGA window 0x{window[0]:x}+0x{window[1]:x}")

    a.out.mkdir(parents=True, exist_ok=True)
    work_root = Path(tempfile.mkdtemp(prefix="board-vm-", dir="/var/tmp"))
    results = []
    try:
        for name in a.scenarios:
            work = work_root / name
            share = work / "share"
            share.mkdir(parents=True)
            next_server = make_next_version(server, work) if name == "upgrade" else None
            probe = build_probe(work) if name == "supervision" else None
            prepare_share(share, name, server, standins, extras, next_server, probe)
            boot = Boot(qemu, image, work, window, fpga_sim, devices, repo_share=name in ("shm", "suite"))
            limit = SCENARIO_TIMEOUT[name] * a.timeout_scale
            say(f"{name}: booting (at most {limit:.0f} s)")
            seconds, timed_out = boot.run(share, limit)
            out = a.out / name
            shutil.rmtree(out, ignore_errors=True)
            shutil.copytree(share / "out", out)
            read = lambda f: (out / f).read_text(errors="replace") if (out / f).exists() else ""
            passed, failures, counts = logic.verdict(read("status"), read("checks"))
            if timed_out:
                passed = False
                failures.append(f"timed out after {limit:.0f} s")
            for line in read("checks").splitlines():
                print(f"  {line}")
            times = logic.timings(read("timings"))
            say(f"{name}: {'PASS' if passed else 'FAIL'} in {seconds:.0f} s (boot, run, power-off); "
                f"{counts['ok']} ok, {counts['FAIL']} failed, {counts['skip']} skipped; logs in {out}")
            for t, s in times:
                say(f"{name}: {t} {s:.1f} s")
            for f in failures:
                say(f"{name}: {f}")
            results.append((name, passed, seconds))
    finally:
        if a.keep:
            say(f"working folder kept: {work_root}")
        else:
            shutil.rmtree(work_root, ignore_errors=True)
    summary = ", ".join(f"{n} {'PASS' if p else 'FAIL'} {s:.0f} s" for n, p, s in results)
    if image_seconds is not None:
        summary = f"image {image_seconds:.0f} s, " + summary
    say(f"{summary}; total {time.monotonic() - started:.0f} s")
    passed = all(p for _, p, _ in results)
    print(f"{sum(p for _, p, _ in results)} passed, {sum(not p for _, p, _ in results)} failed")
    return 0 if passed else 1


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except logic.BoardVmError as e:
        print(f"board-vm: {e}", file=sys.stderr)
        sys.exit(2)
    except subprocess.CalledProcessError as e:
        print(f"board-vm: {' '.join(map(str, e.cmd))} failed with status {e.returncode}", file=sys.stderr)
        sys.exit(1)
