"""A host in another language: loads the engine module with ctypes and drives one ping
object through its plain entry points. Usage: host_ctypes.py <path of the module>."""
import ctypes
import sys

WIDE_ID_OFFSET = 10000
PACKET_SIZE, REMOTE_HOST, TIMEOUT, TYPE_OF_SERVICE, IDLE, VERSION_TAG = 4, 5, 9, 11, 2, 0
CODE_PAGE_ID = 2010
CONFIG = 2


def bind(library):
    ptr, i32, i64 = ctypes.c_void_p, ctypes.c_int32, ctypes.c_int64
    signatures = {
        "Corvane_Ping_Create": (ptr, [ptr, ptr, ctypes.c_char_p, i32]),
        "Corvane_Ping_Destroy": (i32, [ptr]),
        "Corvane_Ping_Get": (ctypes.c_ssize_t, [ptr, i32, i32, ptr, i64]),
        "Corvane_Ping_Set": (i32, [ptr, i32, i32, ctypes.c_ssize_t, i32]),
        "Corvane_Ping_Do": (i32, [ptr, i32, i32, ptr, ptr, i64]),
        "Corvane_Ping_GetLastError": (ctypes.c_char_p, [ptr]),
        "Corvane_Ping_GetLastErrorCode": (i32, [ptr]),
    }
    for name, (result, arguments) in signatures.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    return library


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def equal(self, what, actual, expected):
        if actual == expected:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAIL {what}: {actual!r} != {expected!r}")


def config(engine, handle, setting, wide=False):
    """Config in the byte or UTF-16 form; returns (code, answer)."""
    slots = (ctypes.c_ssize_t * 2)()
    lengths = (ctypes.c_int32 * 2)()
    # ctypes' own wide strings are UTF-32 on Linux; the engine takes UTF-16.
    encoded = setting.encode("utf-16-le") + b"\0\0" if wide else setting.encode() + b"\0"
    argument = ctypes.create_string_buffer(encoded, len(encoded))
    slots[0] = ctypes.cast(argument, ctypes.c_void_p).value
    method = CONFIG + WIDE_ID_OFFSET if wide else CONFIG
    code = engine.Corvane_Ping_Do(handle, method, 1, slots, lengths, 0)
    if not slots[1]:
        return code, None
    if wide:
        return code, utf16_at(slots[1])
    return code, ctypes.string_at(slots[1]).decode()


def utf16_at(address, limit=4096):
    units = []
    for index in range(limit):
        unit = ctypes.c_uint16.from_address(address + 2 * index).value
        if unit == 0:
            break
        units.append(unit)
    return b"".join(u.to_bytes(2, "little") for u in units).decode("utf-16-le")


def main():
    if len(sys.argv) != 2:
        print("usage: host_ctypes.py <engine module>")
        return 2
    engine = bind(ctypes.CDLL(sys.argv[1]))
    checks = Checks()

    handle = engine.Corvane_Ping_Create(None, None, None, 1)
    checks.equal("handle", handle is not None and handle != 0, True)
    if not handle:
        print(f"{checks.passed} passed, {checks.failed + 1} failed")
        return 1

    def get(prop):
        return engine.Corvane_Ping_Get(handle, prop, 0, None, 0)

    checks.equal("PacketSize", get(PACKET_SIZE), 64)
    checks.equal("Timeout", get(TIMEOUT), 60)
    checks.equal("TypeOfService", get(TYPE_OF_SERVICE), 8)
    checks.equal("Idle", get(IDLE), 1)
    checks.equal("VersionTag", ctypes.string_at(get(VERSION_TAG)).decode(),
                 "CORVANE_VERSION_20_0_7525")
    checks.equal("RemoteHost UTF-16", utf16_at(get(REMOTE_HOST + WIDE_ID_OFFSET)), "")

    checks.equal("CodePage setting", config(engine, handle, "CodePage=65001", wide=True), (0, ""))
    checks.equal("CodePageId", get(CODE_PAGE_ID), 65001)
    checks.equal("BuildInfo", config(engine, handle, "BuildInfo"), (0, "20.0.7525"))
    checks.equal("Timeout answer UTF-16", config(engine, handle, "Timeout", wide=True), (0, "60"))

    checks.equal("unknown setting", config(engine, handle, "NoSuchSetting")[0], -1)
    checks.equal("unknown setting text", engine.Corvane_Ping_GetLastError(handle),
                 b"Unknown config setting.")
    checks.equal("TypeOfService 264", engine.Corvane_Ping_Set(handle, TYPE_OF_SERVICE, 0, 264, 0), 0)
    checks.equal("TypeOfService low byte", get(TYPE_OF_SERVICE), 8)
    checks.equal("read-only Idle", engine.Corvane_Ping_Set(handle, IDLE, 0, 0, 0), -1)
    checks.equal("text kept after refusal", engine.Corvane_Ping_GetLastError(handle),
                 b"Unknown config setting.")

    checks.equal("Destroy", engine.Corvane_Ping_Destroy(handle), 0)
    checks.equal("null handle code", engine.Corvane_Ping_GetLastErrorCode(None), 200)

    print(f"{checks.passed} passed, {checks.failed} failed")
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
