"""Checks of bench/python_rows.py: that its contenders do the work the rows
claim and that its tree and comparisons are what the figures say.

Run: /usr/bin/python3 -B -m unittest discover -s bench -p 'test_*.py'
"""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True

import python_rows  # noqa: E402


class WebvttInMemory(unittest.TestCase):
    def test_same_transcript_as_the_file_row(self):
        # make_captions.py writes LF files and CR LF files in turn.
        with tempfile.TemporaryDirectory() as work:
            captions = python_rows.generate_course(work, 2, 0.02, seed=5)
            subprocess.run([sys.executable, os.path.join(HERE, "webvtt_py.py"), captions], check=True)
            for name, ends in (("lecture001", b"\n"), ("lecture002", b"\r\n")):
                with self.subTest(name=name):
                    with open(os.path.join(captions, name + ".vtt"), "rb") as caption:
                        data = caption.read()
                    self.assertEqual(data.count(b"\r\n") > 0, ends == b"\r\n")
                    with open(os.path.join(captions, name + ".txt"), "rb") as text:
                        self.assertEqual(python_rows.webvtt_transcript(data), text.read())


class Tree(unittest.TestCase):
    def test_shape(self):
        # files, MB: the folders of 100 files, the last one partial.
        for files, megabytes in ((250, 1.0), (100, 0.5), (1, 0.01)):
            with self.subTest(files=files, megabytes=megabytes), tempfile.TemporaryDirectory() as root:
                total = python_rows.make_tree(root, files, megabytes)
                counts = []
                for course in sorted(os.listdir(root)):
                    self.assertIn("__", course)
                    self.assertTrue(os.path.isfile(os.path.join(root, course, "imsmanifest.xml")))
                    captions = os.path.join(root, course, "media", "captions")
                    counts.append(sum(name.endswith(".vtt") for name in os.listdir(captions)))
                self.assertEqual(sum(counts), files)
                self.assertEqual(counts, [100] * (files // 100) + ([files % 100] if files % 100 else []))
                self.assertAlmostEqual(total / 1e6, megabytes, delta=megabytes * 0.05)

    def test_differences(self):
        reference = {"a/x.txt": "1", "b/y.txt": "2"}
        for produced, count in (({"a/x.txt": "1", "b/y.txt": "2"}, 0),
                                ({"a/x.txt": "1", "b/y.txt": "3"}, 1),
                                ({"a/x.txt": "1"}, 1),
                                ({}, 2),
                                ({"a/x.txt": "1", "b/y.txt": "2", "c/z.txt": "4"}, 1)):
            with self.subTest(produced=produced):
                self.assertEqual(python_rows.differences(reference, produced), count)

    def test_transcripts_found_at_every_depth(self):
        with tempfile.TemporaryDirectory() as root:
            for path, data in (("a.txt", b"1"), ("x/b.txt", b"2"), ("x/y/c.txt", b"2"), ("x/c.vtt", b"3")):
                os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
                with open(os.path.join(root, path), "wb") as out:
                    out.write(data)
            digests = python_rows.tree_transcripts(root)
            self.assertEqual(sorted(digests), ["a.txt", "x/b.txt", "x/y/c.txt"])
            self.assertEqual(digests["x/b.txt"], digests["x/y/c.txt"])
            python_rows.remove_transcripts(root)
            self.assertEqual(python_rows.tree_transcripts(root), {})
            self.assertTrue(os.path.exists(os.path.join(root, "x/c.vtt")))


class Import(unittest.TestCase):
    def test_a_build_without_the_module_is_a_reason_never_another_orvane(self):
        saved_path, saved_env = list(sys.path), os.environ.get("PYTHONPATH")
        try:
            with tempfile.TemporaryDirectory() as build:
                module, why = python_rows.import_orvane(build)
                self.assertIsNone(module)
                self.assertIn(os.path.join(build, "python"), why)
        finally:
            sys.path[:] = saved_path
            if saved_env is None:
                os.environ.pop("PYTHONPATH", None)
            else:
                os.environ["PYTHONPATH"] = saved_env


if __name__ == "__main__":
    unittest.main()
