#!/usr/bin/env python3
"""Checks the arm64 machine code of the register accessors.

    check_accessor_code.py OBJDUMP PROBE_LIBRARY SERVICE_LIBRARY

PROBE_LIBRARY holds one out-of-line function per accessor of
platform/MemoryAccess.h (tests/platform/MemoryAccessProbe.cpp); every path
through each of them must make exactly one access of the accessor's width,
with the barriers the accessor promises around it, and call nothing:

    load8/16/32   dmb sy, one ldrb/ldrh/ldr w, dmb sy
    load64        one ldr x, dmb sy
    store8/16/32  dmb sy, one strb/strh/str w, dmb sy
    store64       one str x

Any other access (a pair, a narrower or wider one, a second one) or a call
(a memcpy, which may be split into any widths) fails. In SERVICE_LIBRARY
(the memory-mapped I/O service) Read and Write may call nothing but the
service's own address check: the accessors are inlined there. Prints what
it read; exit status 1 when anything is off, 2 on a usage or tool error.
"""

import re
import subprocess
import sys

EXPECTED = {
    "corvane_probe_load8": ["dmb sy", "load8", "dmb sy"],
    "corvane_probe_load16": ["dmb sy", "load16", "dmb sy"],
    "corvane_probe_load32": ["dmb sy", "load32", "dmb sy"],
    "corvane_probe_load64": ["load64", "dmb sy"],
    "corvane_probe_store8": ["dmb sy", "store8", "dmb sy"],
    "corvane_probe_store16": ["dmb sy", "store16", "dmb sy"],
    "corvane_probe_store32": ["dmb sy", "store32", "dmb sy"],
    "corvane_probe_store64": ["store64"],
}

# The service's functions whose inlined accessors must not become calls,
# and the one call they may make.
SERVICE_FUNCTIONS = ("FACE::IOSS::CV_Devmem::Read(", "FACE::IOSS::CV_Devmem::Write(")
SERVICE_ALLOWED_CALL = "FACE::IOSS::CV_Devmem::accessAddress("

CONDITIONAL = re.compile(r"^(b\.[a-z]+|cbz|cbnz|tbz|tbnz)$")
TARGET = re.compile(r"\b([0-9a-f]+) <")
REGISTER = re.compile(r"^([wxsdqbh])\d+|^([wx])zr")


def disassemble(objdump, library):
    """Function name -> list of (address, mnemonic, operands)."""
    try:
        text = subprocess.run([objdump, "-d", "-C", "--no-show-raw-insn", library], check=True,
                              capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        print(f"cannot disassemble {library}: {error}")
        sys.exit(2)
    functions = {}
    current = None
    for line in text.splitlines():
        header = re.match(r"^[0-9a-f]+ <(.*)>:$", line)
        if header:
            current = functions.setdefault(header.group(1), [])
            continue
        instruction = re.match(r"^\s*([0-9a-f]+):\t(\S+)\s*(.*)$", line)
        if instruction and current is not None:
            operands = instruction.group(3).split("//")[0].strip()
            current.append((int(instruction.group(1), 16), instruction.group(2), operands))
    return functions


def access_token(mnemonic, operands):
    """'load32', 'store8', ... for one access through a pointer; 'pair ...'
    for a pair or vector access; None for no access or one to the stack."""
    if not mnemonic.startswith(("ld", "st")):
        return None
    if re.search(r"\[(sp|x29)\b", operands):
        return None  # the function's own frame
    kind = "load" if mnemonic.startswith("ld") else "store"
    if re.match(r"^(ld|st)[a-z]*p$|^(ld|st)[1-4]", mnemonic):
        return f"pair {mnemonic}"
    register = REGISTER.match(operands)
    if register is None:
        return f"unknown {mnemonic} {operands}"
    if mnemonic.endswith("b"):
        width = 8
    elif mnemonic.endswith("h"):
        width = 16
    elif mnemonic.endswith("sw"):
        width = 32
    else:
        width = {"w": 32, "x": 64, "s": 32, "d": 64, "q": 128, "b": 8, "h": 16}[register.group(1) or register.group(2)]
    return f"{kind}{width}"


def paths(code):
    """Every path from the entry to a return, as lists of tokens: barriers,
    accesses and calls. Branches are followed; a loop is reported."""
    index = {address: i for i, (address, _, _) in enumerate(code)}
    found = []

    def walk(i, tokens, seen):
        while i < len(code):
            address, mnemonic, operands = code[i]
            if address in seen:
                found.append(tokens + ["loop"])
                return
            seen = seen | {address}
            if mnemonic in ("dmb", "dsb", "isb"):
                tokens = tokens + [f"{mnemonic} {operands}"]
            elif mnemonic == "ret":
                found.append(tokens)
                return
            elif mnemonic in ("bl", "blr", "br"):
                target = re.search(r"<(.*)>", operands)
                tokens = tokens + ["call " + (target.group(1) if target else operands)]
                if mnemonic == "br":
                    found.append(tokens)
                    return
            elif mnemonic == "b" or CONDITIONAL.match(mnemonic):
                target = TARGET.search(operands)
                if target is None or int(target.group(1), 16) not in index:
                    found.append(tokens + [f"branch out {operands}"])
                    return
                if mnemonic != "b":
                    walk(i + 1, tokens, seen)
                if len(found) > 256:
                    return
                i = index[int(target.group(1), 16)]
                continue
            else:
                token = access_token(mnemonic, operands)
                if token is not None:
                    tokens = tokens + [token]
            i += 1
        found.append(tokens + ["falls off the end"])

    walk(0, [], frozenset())
    return found


def show(name, code):
    print(f"{name}:")
    for address, mnemonic, operands in code:
        print(f"    {address:6x}  {mnemonic:8} {operands}")


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    objdump, probe, service = sys.argv[1:]
    failures = 0

    probes = disassemble(objdump, probe)
    for name, expected in EXPECTED.items():
        code = probes.get(name)
        if not code:
            print(f"FAIL {name}: not found in {probe}")
            failures += 1
            continue
        show(name, code)
        bad = [p for p in paths(code) if p != expected]
        if bad:
            failures += 1
            for p in bad:
                print(f"FAIL {name}: a path does {', '.join(p) or 'nothing'}; expected {', '.join(expected)}")
        else:
            print(f"ok   {name}: every path does {', '.join(expected)}")

    functions = disassemble(objdump, service)
    for wanted in SERVICE_FUNCTIONS:
        matches = [n for n in functions if n.startswith(wanted)]
        if not matches:
            print(f"FAIL {wanted}...): not found in {service}")
            failures += 1
            continue
        for name in matches:
            calls = sorted({t for p in paths(functions[name]) for t in p
                            if t.startswith("call ") and not t[5:].startswith(SERVICE_ALLOWED_CALL)})
            if calls:
                failures += 1
                print(f"FAIL {name}: calls {'; '.join(calls)}")
            else:
                print(f"ok   {name}: no calls besides the address check")

    print("PASS" if failures == 0 else f"FAILED: {failures}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
