#!/usr/bin/python3
"""Checks the Windows release ZIP (scripts/package zip), or only the version
resources of the DLL and rvx.exe of a Windows build.

  check_windows_zip.py ZIP VERSION DEF_FILE          the whole release
  check_windows_zip.py --resources VERSION FILE...   version resources only

The ZIP holds exactly FILES in one folder named like it; the DLL and rvx.exe
carry version resources with VERSION, are stripped and import only system
DLLs; the DLL exports exactly the names in DEF_FILE; zip_host.c, built with
the ZIP's header against lib/KDRVXLibrary.lib, records and reads back under
Wine beside the ZIP's DLL; rvx.exe --version reports VERSION.
Needs python3-pefile, x86_64-w64-mingw32-gcc-posix and wine."""
import os, re, subprocess, sys, tempfile, zipfile
import pefile

FILES = ["bin/KDRVXLibrary.dll", "bin/rvx.exe", "include/kdrvx/kdrvx.h",
         "lib/KDRVXLibrary.lib", "lib/libKDRVXLibrary.dll.a", "lib/pkgconfig/kdrvx.pc",
         "lib/cmake/KDRVX/KDRVXConfig.cmake", "lib/cmake/KDRVX/KDRVXConfigVersion.cmake",
         "lib/cmake/KDRVX/KDRVXTargets.cmake", "lib/cmake/KDRVX/KDRVXTargets-release.cmake",
         "share/doc/KDRVXLibrary/README.md"]
COMPANY = "KDRVXLibrary developers"
VFT_APP, VFT_DLL, VOS_NT_WINDOWS32 = 1, 2, 0x40004
RESOURCES = {  # file: (file type, description, internal name)
    "KDRVXLibrary.dll": (VFT_DLL, "KDRVXLibrary: reads, creates and modifies RVX recordings",
                         "KDRVXLibrary"),
    "rvx.exe": (VFT_APP, "rvx, the command-line tool for RVX recordings", "rvx")}
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "shell32.dll"}
HOST_OUTPUT = ("3 records of 2 channels: p1 (maximum 3.5) T2 (maximum 8)\n"
               "1.5 -2\n2.5 0.25\n3.5 8\n")
WINE_ENVIRONMENT = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
problems = []


def expect(holds, problem):
    if not holds:
        problems.append(problem)


def check_resource(path, version):
    name = os.path.basename(path)
    file_type, description, internal = RESOURCES[name]
    pe = pefile.PE(path)
    major, minor, patch = (int(part) for part in version.split("."))
    fields = ["FileVersionMS", "FileVersionLS", "ProductVersionMS", "ProductVersionLS",
              "FileType", "FileOS"]
    fixed = [hex(getattr(info, field)) for info in getattr(pe, "VS_FIXEDFILEINFO", [])
             for field in fields]
    numbers = [major << 16 | minor, patch << 16] * 2 + [file_type, VOS_NT_WINDOWS32]
    wanted = [hex(n) for n in numbers]
    expect(fixed == wanted, f"{name}: {fields} are {fixed}, not {wanted}")
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                expect(table.LangID.lower() == b"040904b0", f"{name}: string table {table.LangID}")
                strings.update((k.decode(), v.decode()) for k, v in table.entries.items())
    expect(strings == {"CompanyName": COMPANY, "FileDescription": description,
                       "FileVersion": version, "InternalName": internal,
                       "LegalCopyright": "Copyright (C) " + COMPANY, "OriginalFilename": name,
                       "ProductName": "KDRVXLibrary", "ProductVersion": version},
           f"{name}: version strings {strings}")
    return pe


def check_binary(path, version, allowed_imports):
    pe = check_resource(path, version)
    name = os.path.basename(path)
    debug = [s.Name.rstrip(b"\0").decode() for s in pe.sections
             if s.Name.startswith((b".debug", b"/"))]
    expect(pe.FILE_HEADER.NumberOfSymbols == 0 and not debug,
           f"{name}: not stripped ({pe.FILE_HEADER.NumberOfSymbols} symbols, {debug})")
    imports = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    expect(imports <= allowed_imports, f"{name}: imports {sorted(imports - allowed_imports)}")
    return pe


def run(command, cwd, **options):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True, **options)
    expect(result.returncode == 0, f"{' '.join(command)}: status {result.returncode}\n"
                                   f"{result.stdout}{result.stderr}")
    return result.stdout.replace("\r\n", "\n")


def check_zip(archive, version, def_file):
    top = f"KDRVXLibrary-{version}-win64"
    expect(os.path.basename(archive) == top + ".zip", f"archive name {archive}")
    with zipfile.ZipFile(archive) as opened, tempfile.TemporaryDirectory() as work:
        names = opened.namelist()
        outside = [n for n in names if not n.startswith(top + "/")]
        expect(not outside, f"not in the folder {top}/: {outside}")
        files = sorted(n[len(top) + 1:] for n in names if not n.endswith("/"))
        expect(files == sorted(FILES), f"files {files}")
        if problems:  # not the layout that the checks below look into
            return
        opened.extractall(work)
        root = os.path.join(work, top)
        bin_dir = os.path.join(root, "bin")
        dll = check_binary(os.path.join(bin_dir, "KDRVXLibrary.dll"), version, SYSTEM_DLLS)
        check_binary(os.path.join(bin_dir, "rvx.exe"), version, SYSTEM_DLLS | {"kdrvxlibrary.dll"})
        with open(def_file) as lines:
            text = lines.read().split("EXPORTS", 1)[1]
        declared = sorted(re.findall(r"^\s*(\w+)", re.sub(r";.*", "", text), re.M))
        exported = sorted(s.name.decode() for s in dll.DIRECTORY_ENTRY_EXPORT.symbols)
        expect(exported == declared, f"exports differ from {def_file}: "
               f"{sorted(set(exported) ^ set(declared))}")

        host = os.path.join(bin_dir, "zip_host.exe")
        run(["x86_64-w64-mingw32-gcc-posix", "-std=c11", "-Wall", "-Werror", "-o", host,
             "-I", os.path.join(root, "include"), os.path.join(os.path.dirname(__file__),
             "zip_host.c"), os.path.join(root, "lib", "KDRVXLibrary.lib")], work)
        if os.path.exists(host):
            output = run(["wine", host], bin_dir, env=WINE_ENVIRONMENT)
            expect(output == HOST_OUTPUT, f"zip_host.exe printed {output!r}")
        output = run(["wine", os.path.join(bin_dir, "rvx.exe"), "--version"], bin_dir,
                     env=WINE_ENVIRONMENT)
        expect(re.fullmatch(rf"KDrvxLibrary version {re.escape(version)} Build \d+\n", output),
               f"rvx.exe --version printed {output!r}")


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "--resources":
        for path in sys.argv[3:]:
            check_resource(path, sys.argv[2])
    elif len(sys.argv) == 4:
        check_zip(*sys.argv[1:])
    else:
        sys.exit(__doc__)
    if problems:
        sys.exit("\n".join(["check_windows_zip: FAILED"] + problems))
    print("check_windows_zip: all checks passed")
