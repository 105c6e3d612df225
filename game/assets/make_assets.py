#!/usr/bin/env python3
"""Makes every file the game loads: pictures under img/, effects under
sound/, music under music/ and the enemy schedule under data/.

    make_assets.py <output folder>     writes them all (the folder is refreshed)
    make_assets.py --list              prints their paths, one a line

Standard library only; sox and lame make the sounds. The same inputs give
the same bytes on every run.
"""
import concurrent.futures
import os
import shutil
import sys
import tempfile

sys.dont_write_bytecode = True  # keep the source folder clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import images  # noqa: E402
import schedule  # noqa: E402
import sounds  # noqa: E402

SCHEDULE_FILE = "data/enemy_ptn.csv"


def all_paths():
    return ([p for p, _ in images.make_images()] + [e[0] for e in sounds.EFFECTS]
            + [m[0] for m in sounds.MUSIC] + [SCHEDULE_FILE])


def write_bytes(out_dir, rel, data):
    path = os.path.join(out_dir, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_image(out_dir, rel, make):
    write_bytes(out_dir, rel, make().png())


def main(argv):
    if len(argv) == 2 and argv[1] == "--list":
        print("\n".join(all_paths()))
        return 0
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out_dir = os.path.abspath(argv[1])
    for tool in ("sox", "lame"):
        if shutil.which(tool) is None:
            sys.stderr.write("make_assets: %s is not installed (tools/setup/setup.sh installs it)\n" % tool)
            return 1
    for top in ("img", "sound", "music", "data"):
        shutil.rmtree(os.path.join(out_dir, top), ignore_errors=True)
    with tempfile.TemporaryDirectory(prefix="quinsel_assets_") as tmp:
        # Sounds spend their time in sox and lame, pictures in this process:
        # run them side by side.
        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            jobs = [pool.submit(sounds.make_effect, out_dir, tmp, name, synth) for name, synth in sounds.EFFECTS]
            jobs += [pool.submit(sounds.make_music, out_dir, tmp, *m) for m in sounds.MUSIC]
            for rel, make in images.make_images():
                make_image(out_dir, rel, make)
            write_bytes(out_dir, SCHEDULE_FILE, schedule.make_schedule().encode("ascii"))
            for job in jobs:
                job.result()
    missing = [p for p in all_paths() if not os.path.isfile(os.path.join(out_dir, p))]
    if missing:
        sys.stderr.write("make_assets: not made: %s\n" % ", ".join(missing))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
