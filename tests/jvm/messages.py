"""The library's two lines on stdout, as every JVM driver expects them, for
a path given as str or bytes (a path that is not UTF-8)."""


def not_found(path):
    return _line("Movrek Error [Native Module] Directory {} does not exist.\n", path)


def flush_failed(path):
    return _line("Movrek Error [Native Module] Directory flush failed for {}.\n", path)


def _line(template, path):
    return template.format(path) if isinstance(path, str) else template.encode().replace(b"{}", path)
