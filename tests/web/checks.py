"""What the page tests share: checks that print a line each and are counted,
and a page's errors."""

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def page_errors(page):
    """Console errors and exceptions: a page that works logs none."""
    return page.errors + [text for kind, text in page.console if kind == "error"]


def summary():
    """Prints the count of failures; the exit status for the script."""
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0
