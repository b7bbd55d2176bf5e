"""The harness's own tools, checked against our demonstration second stage and the stub: if the
robot, the launcher or the machine control were wrong, every other end-to-end test would lie."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


class Tools(harness.E2ETest):
    def start_demo(self, *args):
        return self.h.start(program=harness.windows_path(harness.tool("demo_stage2.exe")), args=args)

    def test_robot_reads_and_answers_each_way_of_closing(self):
        h = self.h
        # Exit codes of the demonstration dialog tell which ending the robot produced.
        endings = [(["click:1"], 0), (["enter"], 0), (["escape"], 1), (["wmclose"], 2),
                   (["sysclose"], 3), (["close"], 4)]
        for actions, code in endings:
            demo = self.start_demo("en-GB")
            d = h.dialog("demo_stage2", do=actions, gone=True)
            self.assertEqual(d.text(1002), "Language: en-GB")
            self.assertEqual(d["pid"], demo.pid)
            self.assertEqual(h.wait_exit(), code, actions)

    def test_robot_types_waits_for_texts_and_refuses_what_a_user_cannot_do(self):
        h = self.h
        self.start_demo("fr-FR")
        # A text condition that never holds: the wait ends in a timeout, not in a wrong match.
        # A limit of a second, since it is meant to run out; the robot looks once at least.
        h.robot("wait", kind="demo_stage2", texts={1002: "en-GB"}, timeout=1, expect_rc=2)
        # Found by its program's name as well as by its process id.
        h.dialog("demo_stage2", texts={1002: "fr-FR"}, image="demo_stage2.exe")
        h.dialog("demo_stage2", texts={1002: "fr-FR"}, do=["type:1004=D:\\Tarvelo \u00e9t\u00e9"])
        self.assertEqual(h.dialog("demo_stage2").text(1004), "D:\\Tarvelo \u00e9t\u00e9")
        # No such button: the robot says so instead of doing something else.
        h.robot("wait", kind="demo_stage2", do=["click:2"], expect_rc=3)
        h.dialog("demo_stage2", do=["click:1"], gone=True)
        self.assertEqual(h.wait_exit(), 0)
        # Once the process has ended, a wait for its dialog ends at once.
        h.robot("wait", kind="demo_stage2", expect_rc=6)

    def test_launcher_records_every_event_its_program_raises(self):
        """Each new position of a bar and each new text another program announces reaches the
        record, in order: raised as fast as a program can, from a thread that had taken messages
        before (under Wine such a thread raises nothing for a hook set after that)."""
        h = self.h
        count = 2000
        release = os.path.join(h.root, "release-source")
        source = h.start(program=harness.windows_path(harness.tool("event_source.exe")),
                         args=[str(count), harness.windows_path(release)])
        # The last text is announced after every position: once its event is in the record, so
        # are theirs. (Not once "done" is: a text is read when its event arrives, and the first
        # retitle's event may find the last title already.)
        source.wait_record(lambda: len(source.texts(control=0)) == count // 100 + 1, "every retitle")
        open(release, "w").close()
        self.assertEqual(h.wait_exit(), 0)
        positions = source.positions()
        self.assertEqual(len(positions), count)
        self.assertNotIn(None, positions)
        self.assertEqual(positions, sorted(positions))
        self.assertEqual(positions[-1], count)
        texts = source.texts(control=0)
        self.assertEqual(len(texts), count // 100 + 1, texts)
        self.assertEqual(texts[-1], "done")

    def test_the_load_beside_a_run_ends_however_the_run_ends(self):
        """tools/under-load.sh (test.sh --under-load): its busy processes end with the command,
        whether that succeeds, fails or is interrupted, and by themselves when the script itself
        is killed outright."""
        import signal
        import subprocess
        script = os.path.join(harness.SOURCE_DIR, "tools", "under-load.sh")
        env = dict(os.environ, TARVELO_LOAD_PER_CORE="1")
        # A command that says it has started and lasts until its parent, the script, is gone.
        lasting = [sys.executable, "-c", "import os, time\nparent = os.getppid()\nprint('lasting', flush=True)\n"
                   "while os.getppid() == parent:\n    time.sleep(0.1)\n"]

        def running(pid):
            try:
                with open("/proc/%d/stat" % pid) as f:
                    return f.read().rsplit(")", 1)[1].split()[0] != "Z"
            except FileNotFoundError:
                return False

        def start(command):
            run = subprocess.Popen(["bash", script] + command, env=env, stdout=subprocess.PIPE,
                                   preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
            first = run.stdout.readline().decode()
            pids = [int(p) for p in first.split("pids", 1)[1].split()]
            self.assertEqual(len(pids), len(os.sched_getaffinity(0)), first)
            return run, pids

        def lasting_started(run, pids):
            self.assertEqual(run.stdout.readline(), b"lasting\n")
            self.assertTrue(all(map(running, pids)), "a busy process ended before its command")

        def ended(pids):
            return harness.poll(lambda: not any(map(running, pids)), what="the busy processes ended")

        run, pids = start(["sh", "-c", "exit 3"])
        self.assertEqual(run.wait(harness.WAIT_LIMIT), 3)
        self.assertTrue(ended(pids), "busy after the command failed")
        for stop, code in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
            run, pids = start(lasting)
            lasting_started(run, pids)
            run.send_signal(stop)
            self.assertEqual(run.wait(harness.WAIT_LIMIT), code)
            self.assertTrue(ended(pids), "busy after signal %d" % stop)
        run, pids = start(lasting)
        lasting_started(run, pids)
        run.kill()
        run.wait(harness.WAIT_LIMIT)
        self.assertTrue(ended(pids), "busy after the script was killed")

    def test_machine_control_as_a_program_sees_it(self):
        h = self.h
        info = h.machine(windows="winxp", dotnet=True, browser_proxy="127.0.0.1:3128")
        self.assertEqual((info["major"], info["minor"], info["sp"]), (5, 1, 3))
        self.assertTrue(info["dotnet20"])
        self.assertEqual(info["ie_proxy"], "127.0.0.1:3128")
        info = h.machine(windows=(5, 1, 2, 2600), dotnet=False, browser_proxy="direct")
        self.assertEqual((info["major"], info["minor"], info["sp"]), (5, 1, 2))
        self.assertFalse(info["dotnet20"])
        self.assertEqual(info["ie_proxy"], "")
        self.assertFalse(info["ie_autodetect"])
        info = h.machine(dotnet="no-sp")
        self.assertTrue(info["dotnet20"])

    def test_stub_records_its_start_and_lives_until_released(self):
        h = self.h
        stub_path = os.path.join(h.run_dir, "TarveloStage2.exe")
        with open(stub_path, "wb") as f:
            f.write(h.stub_bytes())
        stub = h.stub("TarveloStage2.exe", wait=True, exit_code=7, probe_mutex=harness.MUTEX_NAME)
        proc = h.start(program=harness.windows_path(stub_path), args=["en-GB", "two words"],
                       env={"TEMP": "C:\\elsewhere"})
        start = stub.wait_started()
        self.assertEqual(start["args"], ["en-GB", "two words"])
        self.assertEqual(start["cwd"], harness.windows_path(h.run_dir))
        self.assertFalse(start["mutex"])
        self.assertTrue(proc.running())
        stub.release()
        self.assertEqual(h.wait_exit(), 7)
        end = stub.calls()[-1]
        self.assertEqual((end["event"], end["waited"]), ("end", True))

    def test_names_resolve_to_loopback_only(self):
        h = self.h
        # Inside the namespace the vendor names lead to 127.0.0.1 and nothing else resolves.
        out = h._namespace(["getent", "hosts", "download.tarvelo.com"])
        import subprocess
        done = subprocess.run(out, stdout=subprocess.PIPE)
        self.assertEqual(done.stdout.split()[0], b"127.0.0.1")
        done = subprocess.run(h._namespace(["getent", "hosts", "example.org"]), stdout=subprocess.PIPE)
        self.assertNotEqual(done.returncode, 0)

    def test_names_keep_resolving_while_the_harness_starts_other_programs(self):
        h = self.h
        # A program looks names up while the test starts robots beside it: its namespace never
        # sees a hosts file that is empty or half written.
        import subprocess
        lookups = 'n=0; while [ $n -lt 500 ]; do getent hosts download.tarvelo.com >/dev/null || echo miss; n=$((n+1)); done'
        looker = subprocess.Popen(h._namespace(["sh", "-c", lookups]), stdout=subprocess.PIPE)
        while looker.poll() is None:
            h._namespace(["true"])
        self.assertEqual(looker.stdout.read().count(b"miss"), 0)


if __name__ == "__main__":
    harness.main()
