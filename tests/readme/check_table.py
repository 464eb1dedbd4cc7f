"""check_table.py README JNI_NAME LIST_COMMAND...: the README's table of deliverables has one line per row that
LIST_COMMAND prints (cmake/list-deliverables.cmake), with its file, os.name and os.arch of its JVMs, and its export."""
import itertools
import re
import subprocess
import sys

readme, jni = sys.argv[1:3]
rows = [row.split('\t') for row in subprocess.run(sys.argv[3:], capture_output=True, check=True, text=True).stdout.splitlines()]
rows = {file: (export, [jvm.split('/') for jvm in jvms.split(',')]) for _, _, file, export, jvms in rows}
lines = open(readme, encoding='utf-8').read().split('\n')
cells = lambda line: [cell.strip() for cell in line.strip().strip('|').split('|')]
quoted = lambda cell: re.findall('`([^`]*)`', cell) or ['']
heads = [i for i, line in enumerate(lines) if line.startswith('|') and {'File', 'Export'} <= set(cells(line))]
if len(heads) != 1:
    sys.exit(f"{readme}: {len(heads)} tables with the columns File and Export; expected one, the deliverables")
head, errors, listed, export = cells(lines[heads[0]]), [], [], None
at_jvm = next(i for i, cell in enumerate(head) if 'os.name' in cell)
for line in map(cells, itertools.takewhile(lambda line: line.startswith('|'), lines[heads[0] + 2:])):
    file, jvm = quoted(line[head.index('File')])[0], quoted(line[at_jvm])
    if line[head.index('Export')] != 'the same':
        export = quoted(line[head.index('Export')])[0].replace('Java_...', jni)
    listed.append(file)
    want_export, want_jvm = rows.get(file, (export, []))
    names = [t for t in jvm if any(t.startswith(name) for name, _ in want_jvm)]
    if not want_jvm:
        errors.append(f"{readme}: a line for {file}; expected only files of rows: {' '.join(rows)}")
    elif export != want_export:
        errors.append(f"{readme}: {file}: expected export '{want_export}', found '{export}'")
    archs = set(jvm) - set(names)
    if want_jvm and not (names and archs and archs <= {arch for _, arch in want_jvm}):
        errors.append(f"{readme}: {file}: expected os.name, os.arch of {','.join(map('/'.join, want_jvm))}, found '{line[at_jvm]}'")
errors += [f"{readme}: {file}: expected one line, found {listed.count(file)}" for file in rows if listed.count(file) != 1]
print('\n'.join(errors) or f"{readme}: the table of deliverables names each row's file, JVMs and export")
sys.exit(1 if errors else 0)
