"""The README's table of deliverables against the rows of cmake/deliverables.cmake:
one line per row, with its FILE, os.name and os.arch of its JVM field, and its
EXPORT ("the same" as the line above; "Java_..." short for the JNI name).
usage: check_table.py README JNI_NAME [FILE EXPORT JVM,JVM...]..."""
import re
import sys

readme, jni, rows = sys.argv[1], sys.argv[2], sys.argv[3:]
rows = {rows[i]: (rows[i + 1], [jvm.split('/') for jvm in rows[i + 2].split(',')]) for i in range(0, len(rows), 3)}
lines = open(readme, encoding='utf-8').read().split('\n')
cells = lambda line: [cell.strip() for cell in line.strip().strip('|').split('|')]
quoted = lambda cell: re.findall('`([^`]*)`', cell)
heads = [i for i, line in enumerate(lines) if line.startswith('|') and {'File', 'Export'} <= set(cells(line))]
if len(heads) != 1:
    sys.exit(f"{readme}: {len(heads)} tables with the columns File and Export; expected one, the deliverables")
head = cells(lines[heads[0]])
at_file, at_export = head.index('File'), head.index('Export')
at_jvm = next(i for i, cell in enumerate(head) if 'os.name' in cell)
errors, listed, export = [], [], None
for line in lines[heads[0] + 2:]:
    if not line.startswith('|'):
        break
    line = cells(line)
    file = (quoted(line[at_file]) or [line[at_file]])[0]
    listed.append(file)
    if line[at_export] != 'the same':
        export = (quoted(line[at_export]) or [''])[0].replace('Java_...', jni)
    if file not in rows:
        errors.append(f"{readme}: a line for {file}; expected only files of rows: {' '.join(rows)}")
        continue
    if export != rows[file][0]:
        errors.append(f"{readme}: {file}: expected export '{rows[file][0]}', found '{export}'")
    jvm = quoted(line[at_jvm])
    names = [t for t in jvm if any(t.startswith(name) for name, _ in rows[file][1])]
    archs = [t for t in jvm if t not in names]
    if not names or not archs or not set(archs) <= {arch for _, arch in rows[file][1]}:
        errors.append(f"{readme}: {file}: expected os.name, os.arch of {','.join('/'.join(j) for j in rows[file][1])}, "
                      f"found '{line[at_jvm]}'")
for file in rows:
    if listed.count(file) != 1:
        errors.append(f"{readme}: {file}: expected one line, found {listed.count(file)}")
print('\n'.join(errors) or f"{readme}: the table of deliverables names each row's file, JVMs and export")
sys.exit(1 if errors else 0)
