#!/usr/bin/env python3
"""Runs one in-process Windows test program with the local servers it talks to.

usage: run_nettest.py [--code-signing] WINE_RUN TEST_EXE [ARGS...]

Starts nginx, the fault server and four squids (Basic; Digest and Basic; NTLM and Basic;
Negotiate, NTLM and Basic) on free loopback ports, writes the test files they serve, and runs
the program in a private mount namespace where /etc/hosts maps the vendor's host names to
127.0.0.1 and DNS points at 127.0.0.1, so no lookup leaves the machine. The program finds
everything in its environment:

  TARVELO_NET_ROOT        folder of the served files (Unix path)
  TARVELO_NET_WORK        scratch folder of this run (Unix path)
  TARVELO_NGINX_PORT, TARVELO_FAULT_PORT, TARVELO_SQUID_PORT, TARVELO_SQUID_DIGEST_PORT,
  TARVELO_SQUID_NTLM_PORT, TARVELO_SQUID_NEGOTIATE_PORT
  TARVELO_FAULT_LOG       the fault server's request log
  TARVELO_PROXY_USER, TARVELO_PROXY_PASSWORD

With --code-signing the program runs in a copy of the tree's Wine prefix where the test
code-signing root (tests/servers/codesign.py) is trusted, and the stub is served signed:
signed-<certificate>.exe for publisher, prereq, impostor and stranger, changed-prereq.exe (one
byte changed after signing) and unsigned.exe. TARVELO_PIN_PUBLISHER, _PREREQ, _INTERMEDIATE and
_STRANGER hold the certificates' pins.
"""

import os
import random
import shutil
import signal
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import codesign  # noqa: E402
import servers  # noqa: E402

HOST_NAMES = ["dl.tarvelo.com", "tarvelo.com", "cdn.tarvelo.com", "proxy.test", "other.test"]

# name -> size; contents are a fixed pseudo-random sequence, so every run serves the same bytes,
# behind the header that makes the download check take them for Windows programs.
TEST_FILES = {
    "big.bin": 1000000,
    "small.bin": 5000,
    "dotnet.bin": 2000000,
    "stage2.bin": 300000,
    "msi.bin": 200000,
}


def write_test_files(root):
    os.makedirs(root, exist_ok=True)
    for i, (name, size) in enumerate(sorted(TEST_FILES.items())):
        path = os.path.join(root, name)
        data = servers.as_program(random.Random(1000 + i).randbytes(size))
        if os.path.exists(path) and os.path.getsize(path) == size:
            with open(path, "rb") as f:
                if f.read() == data:
                    continue
        with open(path, "wb") as f:
            f.write(data)


def windows_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def set_up_code_signing(wine_run, build, work, root, env):
    """A copy of the tree's prefix that trusts the test root, the signed stubs among the served
    files, and the pins in `env`. Returns the copy's path."""
    pki = codesign.make(os.path.join(build, "codesign"))
    stub = os.path.join(build, "stub.exe")
    for signer in ("publisher", "prereq", "impostor", "stranger"):
        pki.sign(stub, os.path.join(root, "signed-%s.exe" % signer), signer)
    pki.sign(stub, os.path.join(root, "changed-prereq.exe"), "prereq")
    codesign.change_one_byte(os.path.join(root, "changed-prereq.exe"))
    shutil.copy(stub, os.path.join(root, "unsigned.exe"))
    for name in ("publisher", "prereq", "intermediate", "stranger"):
        env["TARVELO_PIN_" + name.upper()] = pki.pin(name)
    prefix = os.path.join(work, "wineprefix")
    subprocess.run(["cp", "-a", os.path.join(build, "wineprefix"), prefix], check=True)
    env["TARVELO_WINEPREFIX"] = prefix
    subprocess.run([wine_run, os.path.join(build, "trust_root.exe"), windows_path(pki.root_der())],
                   env=env, check=True, stdout=subprocess.DEVNULL, timeout=PROGRAM_TIMEOUT)
    return prefix


def main():
    args = sys.argv[1:]
    code_signing = bool(args) and args[0] == "--code-signing"
    if code_signing:
        args = args[1:]
    if len(args) < 2:
        print(__doc__)
        return 2
    wine_run, exe = args[0], args[1]
    name = os.path.splitext(os.path.basename(exe))[0]
    build = os.environ.get("TARVELO_BUILD_DIR", os.path.dirname(os.path.abspath(exe)))
    work = os.path.join(build, "nettest", name)
    if os.path.isdir(work):
        shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    root = os.path.join(build, "nettest", "files")
    write_test_files(root)
    env = dict(os.environ)
    prefix = set_up_code_signing(wine_run, build, work, root, env) if code_signing else None
    try:
        return _run_with_servers(wine_run, exe, args[2:], work, root, env)
    finally:
        if prefix:
            subprocess.run(["wineserver", "-k"], env=dict(env, WINEPREFIX=prefix), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
            subprocess.run(["wineserver", "-w"], env=dict(env, WINEPREFIX=prefix), timeout=60)
            shutil.rmtree(prefix, ignore_errors=True)


def _run_with_servers(wine_run, exe, program_args, work, root, env):
    """Starts the servers, runs the program in its private mount namespace, stops the servers."""
    hosts = os.path.join(work, "hosts")
    with open(hosts, "w") as f:
        f.write("127.0.0.1 localhost " + " ".join(HOST_NAMES) + "\n::1 localhost\n")
    resolv = os.path.join(work, "resolv.conf")
    with open(resolv, "w") as f:
        f.write("nameserver 127.0.0.1\n")

    fault_log = os.path.join(work, "fault-requests.log")
    running = []
    try:
        nginx = _started(running, servers.Nginx(root, os.path.join(work, "nginx")))
        fault = _started(running, servers.FaultServer(root, fault_log))
        squid = _started(running, servers.Squid(os.path.join(work, "squid"), hosts=HOST_NAMES))
        squid2 = _started(running, servers.Squid(os.path.join(work, "squid-digest"), hosts=HOST_NAMES, digest=True))
        squid3 = _started(running, servers.Squid(os.path.join(work, "squid-ntlm"), hosts=HOST_NAMES, ntlm=True))
        squid4 = _started(running, servers.Squid(os.path.join(work, "squid-negotiate"), hosts=HOST_NAMES,
                                                 ntlm=True, negotiate=True))
        env.update({
            "TARVELO_NET_ROOT": root,
            "TARVELO_NET_WORK": work,
            "TARVELO_NGINX_PORT": str(nginx.port),
            "TARVELO_FAULT_PORT": str(fault.port),
            "TARVELO_SQUID_PORT": str(squid.port),
            "TARVELO_SQUID_DIGEST_PORT": str(squid2.port),
            "TARVELO_SQUID_NTLM_PORT": str(squid3.port),
            "TARVELO_SQUID_NEGOTIATE_PORT": str(squid4.port),
            "TARVELO_FAULT_LOG": fault_log,
            "TARVELO_PROXY_USER": servers.Squid.USER,
            "TARVELO_PROXY_PASSWORD": servers.Squid.PASSWORD,
        })
        script = ('mount --bind "$1" /etc/hosts && mount --bind "$2" /etc/resolv.conf '
                  '&& shift 2 && exec "$@"')
        command = ["unshare", "-m", "sh", "-c", script, "sh", hosts, resolv, wine_run, exe] + program_args
        return _run_program(command, env)
    finally:
        servers.stop_all(running[::-1])


# The programs finish in well under a minute; this only bounds a hang, far inside ctest's own.
PROGRAM_TIMEOUT = 300
# Wine's helper processes (services, explorer) may inherit the output pipe and outlive the
# program by seconds; waiting for them would tie the test's end to theirs.
OUTPUT_GRACE = 10


def _run_program(command, env):
    """Runs the program with its output copied through, and returns its exit code. A program
    that does not end is reported with the process tree, so that the hang can be understood,
    and then ended: only the process group this run started."""
    process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               start_new_session=True)

    def copy():
        for chunk in iter(lambda: process.stdout.read1(65536), b""):
            sys.stdout.buffer.write(chunk)
            sys.stdout.buffer.flush()

    reader = threading.Thread(target=copy, daemon=True)
    reader.start()
    try:
        code = process.wait(PROGRAM_TIMEOUT)
    except subprocess.TimeoutExpired:
        reader.join(1)
        sys.stdout.flush()
        print("\nrun_nettest: the program did not end within %d s; processes of this run:" % PROGRAM_TIMEOUT,
              flush=True)
        subprocess.run(["ps", "-o", "pid,ppid,pgid,stat,wchan:20,etime,args", "-g", str(process.pid)])
        subprocess.run(["ps", "-o", "pid,ppid,pgid,stat,wchan:20,etime,args", "-C",
                        "wineserver,services.exe,explorer.exe,winedevice.exe,plugplay.exe"])
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        return 1
    reader.join(OUTPUT_GRACE)
    if reader.is_alive():
        print("\nrun_nettest: the program ended with %d; its output pipe is still held open by a "
              "helper process, not waited for" % code, flush=True)
    return code


def _started(running, server):
    running.append(server)
    return server.start()


if __name__ == "__main__":
    sys.exit(main())
