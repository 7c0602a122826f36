"""The demo: `vardoln-cn0 analyze` on the bundled sample recording and its navigation file, writing
the JSON export, the PNG plots and the HTML report into one directory (default build/demo)."""

import os
import sys
from pathlib import Path

from vardoln_tools import commands

ROOT = Path(__file__).resolve().parents[1]


def main() -> int:
    out = Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else ROOT / "build" / "demo"
    out.mkdir(parents=True, exist_ok=True)
    # Relative names read better in the printed command and summary.
    os.chdir(ROOT)
    out = Path(os.path.relpath(out))
    argv = ["analyze", "samples/SEPT265G.21O", "--nav", "samples/SEPT2650.21P",
            "--json", str(out / "analysis.json"), "--pretty", "--summary-json", str(out / "summary.json"),
            "--plots", str(out / "plots"),
            "--html", str(out / "report.html")]
    print("$ vardoln-cn0 " + " ".join(argv), flush=True)
    return commands.main(argv)


if __name__ == "__main__":
    sys.exit(main())
