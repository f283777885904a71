"""The services' files under --state DIR: each written whole through a temporary file, so that a
crash never leaves half of one, and removed with that temporary file on /__reset."""

import json
import os


def write(state_dir, name, data):
    path = os.path.join(state_dir, name)
    with open(path + ".tmp", "w", encoding="utf-8") as f:
        json.dump(data, f, indent=1, ensure_ascii=False)
    os.replace(path + ".tmp", path)


def remove(state_dir, name):
    for file in (name, name + ".tmp"):
        try:
            os.remove(os.path.join(state_dir, file))
        except FileNotFoundError:
            pass
