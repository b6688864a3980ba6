"""`python -m veltrane`: the command line."""
from veltrane.cli import main

# Worker processes of `--jobs` import this module again under another name.
if __name__ == "__main__":
    raise SystemExit(main())
