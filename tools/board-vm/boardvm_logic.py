"""Pure logic of the board virtual machine: what goes into the image, the
device tree's reserved FPGA window, the upgrade package's control data and
the verdict of a scenario. No process is started here; board_vm.py does
that and its tests (tests/tools/board-vm/) call these functions directly.
"""

import hashlib
import re
import xml.etree.ElementTree as ET

# The virt machine's RAM starts at 1 GiB. QEMU loads the kernel 2 MiB
# into it and the initrd at the middle of RAM (at most 128 MiB in); the
# FPGA window must lie above the kernel and below the initrd.
RAM_BASE = 0x40000000
KERNEL_RESERVE = 48 << 20
INITRD_OFFSET_MAX = 128 << 20
PAGE = 4096

# Packages every image has besides the server's dependencies: an init and
# udev (the /dev/mem rule), a kernel with a small initramfs, what the
# scenarios use to look at the machine, and systemd-coredump (the cores of
# a faulting server).
BASE_PACKAGES = (
    "systemd-sysv", "udev", "linux-image-arm64", "initramfs-tools", "kmod",
    "iproute2", "procps", "systemd-coredump", "e2fsprogs",
    # The arm64 test suite: ctest, the demo PKI's openssl, the geodesy
    # cross-check of the recorded drives, python3 for the runtime rig
    # (scripts/rig) the end-to-end tests lease their ports from.
    "cmake", "openssl", "geographiclib-tools", "file", "python3",
)

# Virtual or locally supplied packages that cannot come from Debian.
NOT_FROM_DEBIAN = ("libvictory5",)


class BoardVmError(Exception):
    """A problem with the inputs, named so that it can be fixed."""


def parse_devices(text, source="devices file"):
    """The register blocks of a devices file as (name, base, size) tuples,
    in file order; base and size in bytes, as the file writes them
    (decimal, 0x hexadecimal or leading-zero octal)."""
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        raise BoardVmError(f"{source}: not XML: {e}") from e
    blocks = []
    for device in root:
        name = device.findtext("Name")
        params = device.find("Parameters")
        if not name or params is None:
            continue
        base, size = params.findtext("BaseAddress"), params.findtext("Size")
        if base is None or size is None:
            raise BoardVmError(f"{source}: block {name} lacks BaseAddress or Size")
        blocks.append((name.strip(), parse_number(base), parse_number(size)))
    if not blocks:
        raise BoardVmError(f"{source}: no register blocks")
    return blocks


def parse_number(text):
    """An unsigned number written in C's way: 0x.. hexadecimal, 0.. octal,
    else decimal."""
    t = text.strip()
    if re.fullmatch(r"0[xX][0-9a-fA-F]+", t):
        return int(t, 16)
    if re.fullmatch(r"0[0-7]+", t):
        return int(t, 8)
    if re.fullmatch(r"0|[1-9][0-9]*", t):
        return int(t)
    raise BoardVmError(f'"{text}" is not a number')


def fpga_window(blocks, ram_mib):
    """The page-aligned physical window (start, size) in bytes that holds
    every register block, checked to lie in the guest's RAM of `ram_mib`
    MiB between the kernel and the initrd, where a no-map reservation keeps
    the kernel off it."""
    start = min(base for _, base, _ in blocks) // PAGE * PAGE
    end = -(-max(base + size for _, base, size in blocks) // PAGE) * PAGE
    low = RAM_BASE + KERNEL_RESERVE
    high = RAM_BASE + min(ram_mib << 20, 2 * INITRD_OFFSET_MAX) // 2
    if start < low or end > high:
        raise BoardVmError(
            f"the register blocks span 0x{start:x}..0x{end:x}; with {ram_mib} MiB of RAM "
            f"they must lie within 0x{low:x}..0x{high:x} (above the kernel, below the initrd)")
    return start, end - start


def add_reserved_memory(dts, start, size):
    """The device tree source `dts` (as dtc prints the virt machine's tree,
    two address and two size cells) with a no-map reservation of
    [start, start + size) added to its root node."""
    if "reserved-memory" in dts:
        raise BoardVmError("the device tree already has a reserved-memory node")
    cells = f"0x{start >> 32:x} 0x{start & 0xFFFFFFFF:x} 0x{size >> 32:x} 0x{size & 0xFFFFFFFF:x}"
    node = ("\n\treserved-memory {\n"
            "\t\t#address-cells = <0x02>;\n"
            "\t\t#size-cells = <0x02>;\n"
            "\t\tranges;\n\n"
            f"\t\tfpga@{start:x} {{\n"
            f"\t\t\treg = <{cells}>;\n"
            "\t\t\tno-map;\n"
            "\t\t};\n"
            "\t};\n")
    at = dts.rfind("};")
    if at < 0 or not re.search(r"^/ \{", dts, re.M):
        raise BoardVmError("the device tree source has no root node")
    return dts[:at] + node + dts[at:]


def depends_packages(depends):
    """Package names of a Depends field: versions dropped, the first of
    each set of alternatives, architecture qualifiers dropped."""
    names = []
    for clause in depends.split(","):
        first = clause.split("|")[0].strip()
        if not first:
            continue
        name = re.split(r"[\s(\[]", first, maxsplit=1)[0].split(":")[0]
        if name and name not in names:
            names.append(name)
    return names


def image_packages(server_depends):
    """What the image installs: the base set and the server's
    dependencies, less what only a local package can provide; sorted."""
    wanted = set(BASE_PACKAGES) | set(depends_packages(server_depends))
    return sorted(wanted - set(NOT_FROM_DEBIAN))


def select_extra_debs(debs, image_package_names):
    """Of `debs` [(path, package)], those that replace a package of the
    image (our own build of a Debian library): their dependencies are in
    the image already, so they install without a network. The rest
    (development and debug packages) are left out."""
    wanted = set(image_package_names)
    return [(path, pkg) for path, pkg in debs if pkg in wanted]


def cache_key(*parts):
    """A short stable key of the texts or bytes `parts`: the image is
    rebuilt when it changes."""
    h = hashlib.sha256()
    for p in parts:
        data = p if isinstance(p, bytes) else str(p).encode()
        h.update(len(data).to_bytes(8, "little"))
        h.update(data)
    return h.hexdigest()[:16]


def with_version(control, version):
    """Control file text `control` with its Version field set to
    `version`."""
    if not re.search(r"^Version:", control, re.M):
        raise BoardVmError("the control file has no Version field")
    return re.sub(r"^Version:.*$", f"Version: {version}", control, count=1, flags=re.M)


def next_version(version):
    """The Debian revision after `version`: 1.0.0-1 -> 1.0.0-2, 1.0.0 ->
    1.0.0-1."""
    m = re.fullmatch(r"(.*)-(\d+)", version)
    if m:
        return f"{m.group(1)}-{int(m.group(2)) + 1}"
    return version + "-1"


def md5sums_line(digest, path):
    """One line of a package's md5sums file for the data file `path`
    (absolute, as installed)."""
    return f"{digest}  {path.lstrip('/')}\n"


CHECK_LINE = re.compile(r"^(ok|FAIL|skip)\s+([^:]+?):\s?(.*)$")
TIME_LINE = re.compile(r"^([A-Za-z0-9_.-]+)\s+([0-9]+(?:\.[0-9]+)?)$")


def verdict(status_text, checks_text):
    """The verdict of a scenario from what the guest wrote: its run
    script's exit status and its check lines ("ok|FAIL|skip NAME: detail").
    Returns (passed, failures, counts): passed only with exit status 0, at
    least one ok and no FAIL; a missing status (the run did not end) is a
    failure."""
    counts = {"ok": 0, "FAIL": 0, "skip": 0}
    failures = []
    for line in checks_text.splitlines():
        m = CHECK_LINE.match(line.strip())
        if not m:
            continue
        counts[m.group(1)] += 1
        if m.group(1) == "FAIL":
            failures.append(f"{m.group(2)}: {m.group(3)}")
    status = status_text.strip()
    if status != "0":
        failures.append("the scenario did not finish" if status == "" else f"the scenario exited with status {status}")
    passed = not failures and counts["ok"] > 0
    if not failures and counts["ok"] == 0:
        failures.append("no check ran")
    return passed, failures, counts


def timings(text):
    """The guest's timing lines ("name seconds") as an ordered list of
    (name, seconds)."""
    out = []
    for line in text.splitlines():
        m = TIME_LINE.match(line.strip())
        if m:
            out.append((m.group(1), float(m.group(2))))
    return out
