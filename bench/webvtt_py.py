#!/usr/bin/python3
"""Writes each caption file's text to a .txt beside it with webvtt-py, the way
most scripts do it.

Usage: webvtt_py.py FOLDER
"""
import glob
import os
import sys

import webvtt

for path in glob.glob(os.path.join(sys.argv[1], "*.vtt")):
    with open(os.path.splitext(path)[0] + ".txt", "w", encoding="utf-8", newline="\r\n") as out:
        for caption in webvtt.read(path):
            out.write(caption.text + "\n")
