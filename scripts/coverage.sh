#!/usr/bin/env bash
# Builds varonet with coverage counters, runs the test suite and prints, per
# library folder, line and branch coverage and the error codes that some test
# raised (a throw site, or a failure code returned from a session, that ran).
#   scripts/coverage.sh                 build in build-cov/, print the table
#   scripts/coverage.sh --save F.json   also keep the figures in F.json
#   scripts/coverage.sh --compare F.json   print the table beside F.json's
# BUILD=dir picks another build folder; NOBUILD=1 reuses counters already there.
set -euo pipefail
cd "$(dirname "$0")/.."

save="" compare=""
while [ $# -gt 0 ]; do
  case "$1" in
    --save) save=$2; shift 2 ;;
    --compare) compare=$2; shift 2 ;;
    *) echo "usage: $0 [--save FILE] [--compare FILE]" >&2; exit 2 ;;
  esac
done

build=${BUILD:-build-cov}
if [ -z "${NOBUILD:-}" ]; then
  scripts/install-deps.sh
  command -v gcovr >/dev/null || { echo "gcovr is missing (apt-get install gcovr)" >&2; exit 1; }
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARONET_BENCH=OFF \
        -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
        -DCMAKE_MODULE_LINKER_FLAGS=--coverage >/dev/null
  cmake --build "$build" -j "$(nproc)" >/dev/null
  find "$build" -name '*.gcda' -delete
  (cd "$build" && ctest -j "$(nproc)" --timeout 300 -LE slow >/dev/null) || echo "(some tests failed)" >&2
fi

json=$(mktemp)
trap 'rm -f "$json"' EXIT
gcovr -r . --filter 'varonet/' --filter 'tool/' "$build" --json "$json" >/dev/null

python3 - "$json" "$save" "$compare" <<'EOF'
import json, re, sys, collections
data = json.load(open(sys.argv[1]))
save, compare = sys.argv[2], sys.argv[3]

def folder(path):
    parts = path.split('/')
    if parts[0] == 'varonet': parts = parts[1:]
    return '/'.join(parts[:2]) if parts[0] == 'net' else parts[0]

# An error path is a line that raises or returns a failure code; it counts as
# covered when the line ran. The code is named by the constant on that line.
raise_line = re.compile(r'\b(throw|checkSystemError|return E::Err)')
code_name = re.compile(r'\b(E::Err\w+|k?Err\w+|E[A-Z]{3,}\b|\w+Exception|errno|code)')
table = collections.defaultdict(lambda: {'l': 0, 'lc': 0, 'b': 0, 'bc': 0, 'errors': set()})
for f in data['files']:
    row = table[folder(f['file'])]
    try:
        source = open(f['file'], encoding='latin-1').read().split('\n')
    except OSError:
        source = []
    for line in f['lines']:
        if line['gcovr/noncode']: continue
        row['l'] += 1
        row['lc'] += line['count'] > 0
        for b in line['branches']:
            row['b'] += 1
            row['bc'] += b['count'] > 0
        text = source[line['line_number'] - 1] if line['line_number'] <= len(source) else ''
        if line['count'] > 0 and raise_line.search(text) and not text.lstrip().startswith('/'):
            m = code_name.search(text[raise_line.search(text).start():])
            row['errors'].add(m.group(1) if m else 'other')

figures = {k: {'lines': 100.0 * v['lc'] / max(v['l'], 1), 'branches': 100.0 * v['bc'] / max(v['b'], 1),
               'l': v['l'], 'lc': v['lc'], 'b': v['b'], 'bc': v['bc'], 'errors': sorted(v['errors'])}
           for k, v in sorted(table.items())}
tot = {x: sum(v[x] for v in figures.values()) for x in ('l', 'lc', 'b', 'bc')}
figures['(all)'] = {'lines': 100.0 * tot['lc'] / max(tot['l'], 1), 'branches': 100.0 * tot['bc'] / max(tot['b'], 1),
                    **tot, 'errors': sorted({e for v in figures.values() for e in v['errors']})}
old = json.load(open(compare)) if compare else {}

print(f"{'folder':<12} {'lines %':>8} {'branches %':>11} {'error paths':>12}" + ("   before: lines  branches  error paths lost" if old else ""))
for k, v in figures.items():
    line = f"{k:<12} {v['lines']:8.1f} {v['branches']:11.1f} {len(v['errors']):12d}"
    if k in old:
        o = old[k]
        lost = sorted(set(o['errors']) - set(v['errors']))
        line += f"   {o['lines']:13.1f} {o['branches']:9.1f}  {' '.join(lost) if lost else '-'}"
    print(line)
if save:
    json.dump(figures, open(save, 'w'), indent=1)
EOF
