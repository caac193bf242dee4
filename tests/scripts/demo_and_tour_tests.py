"""scripts/demo.sh and scripts/tour.sh as a new user runs them (without the build step)."""
import os
import re
import select
import signal
import socket
import subprocess
import tempfile
import time
import unittest

SOURCE = os.environ["KRB_SOURCE_DIR"]
DEMO = os.path.join(SOURCE, "scripts", "demo.sh")
TOUR = os.path.join(SOURCE, "scripts", "tour.sh")
BANNER = re.compile(r"served on TCP port (\d+)")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class ScriptCase(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="krb-scripts-")
        self.environment = dict(os.environ, TMPDIR=self.scratch.name, KRB_DEMO_SKIP_BUILD="1",
                                KRB_WEB_PORT="0", KRB_TIME_SCALE="0.1")

    def tearDown(self):
        self.scratch.cleanup()

    def assertNothingLeftBehind(self):
        self.assertEqual(os.listdir(self.scratch.name), [])


class DemoScript(ScriptCase):
    def test_a_server_that_cannot_listen_ends_the_demo_without_a_banner(self):
        with socket.socket() as holder:
            holder.bind(("0.0.0.0", 0))
            holder.listen()
            busy = str(holder.getsockname()[1])
            cases = [(busy, "Address already in use"), ("31x", "KRB_DEMO_PORT is no port number")]
            for port, reason in cases:
                with self.subTest(port=port):
                    run = run_script(DEMO, dict(self.environment, KRB_DEMO_PORT=port), 30)
                    self.assertNotEqual(run.returncode, 0, run.stdout + run.stderr)
                    self.assertNotRegex(run.stdout, BANNER)
                    self.assertIn(reason, run.stderr)
                    self.assertNothingLeftBehind()

    def test_the_demo_serves_on_the_chosen_port_and_its_examples_get_their_replies(self):
        port = free_port()
        demo = subprocess.Popen(["bash", DEMO], env=dict(self.environment, KRB_DEMO_PORT=str(port)),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                start_new_session=True)
        try:
            printed = read_until(demo, "Ctrl-C stops", 30)
            self.assertEqual(BANNER.search(printed).group(1), str(port), printed)
            examples = [line.strip() for line in printed.splitlines() if "| nc " in line]
            self.assertEqual(len(examples), 3, printed)
            replies = [subprocess.run(["bash", "-c", example], capture_output=True, timeout=30).stdout
                       for example in examples]
            self.assertEqual(replies[0], b"0\r\n")  # idle
            self.assertIn(replies[1], (b"1\r\n", b"1;1\r\n"))  # activated
            self.assertRegex(replies[2], rb"^\d+\r\n$")  # a status word
        finally:
            demo.send_signal(signal.SIGTERM)
            try:
                demo.communicate(timeout=30)
            finally:
                end_session(demo)
        self.assertNothingLeftBehind()


class TourScript(ScriptCase):
    def test_the_tour_explains_the_failure_and_leaves_the_lab_as_it_found_it(self):
        run = run_script(TOUR, dict(self.environment, KRB_DEMO_PORT=str(free_port())), 90)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        for explained in ("'-Ext1;3': the move failed on unit Ext1", "at step 3,\n    pick",
                          "29443 = 7303 hex", "as they were at the start"):
            self.assertIn(explained, run.stdout)
        self.assertNothingLeftBehind()


def end_session(process):
    """Whatever a script left running when it failed ends with it."""
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def run_script(script, environment, seconds):
    process = subprocess.Popen(["bash", script], env=environment, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, start_new_session=True)
    try:
        out, err = process.communicate(timeout=seconds)
    finally:
        end_session(process)
    return subprocess.CompletedProcess(process.args, process.returncode, out, err)


def read_until(process, marker, seconds):
    text = b""
    deadline = time.monotonic() + seconds
    while marker.encode() not in text and time.monotonic() < deadline:
        ready, _, _ = select.select([process.stdout], [], [], 0.5)
        if ready:
            chunk = os.read(process.stdout.fileno(), 65536)
            if not chunk:
                break
            text += chunk
    return text.decode("latin-1")


if __name__ == "__main__":
    unittest.main()
