#!/usr/bin/env python3
"""The guides (README.md, docs/*.md) against what else tells the same facts, so that
none can drift unseen. The manual page's guide sections are made from the guides
(packaging/md2h2m.py); what it and the Help pages say on their own is checked here:

- every key the program lists (--help-settings) has a row in docs/settings.md, and the
  default the row gives is the program's;
- every command line, file path and menu path in the Help pages (feedback/Page*.ui)
  and in the manual page's own sections (packaging/vantrel-server.h2m) is in a guide;
- every --option they name is one the program knows (--help);
- every link in the guides leads to a file that is there.
Each finding is printed; any fails.
    docs_drift.py REPOSITORY PROGRAM"""
import glob
import html
import os
import re
import subprocess
import sys

repo, program = sys.argv[1], os.path.abspath(sys.argv[2])
os.chdir(repo)
env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
for name in ('DISPLAY', 'WAYLAND_DISPLAY'):
    env.pop(name, None)


def run(*args):
    return subprocess.run([program, *args], capture_output=True, text=True, env=env,
                          timeout=30).stdout


def flat(text):
    return re.sub(r'\s+', ' ', text)


guides = {f: open(f, encoding='utf-8').read() for f in ['README.md'] + sorted(glob.glob('docs/*.md'))}
# The guides as running text: code spans and emphasis unmarked.
guide_text = flat(re.sub(r'[`*]', '', ' '.join(guides.values())))
findings = []

# 1. Keys and defaults.
program_keys = {}  # (section, key) -> default text
section = None
for line in run('--help-settings').splitlines():
    m = re.match(r'\[(\w+)\]$', line)
    if m:
        section = m.group(1)
        continue
    m = re.match(r'  (\w+) \(default ([^,)]*)', line)
    if m and section:
        program_keys[(section, m.group(1))] = m.group(2).strip()
if len(program_keys) < 30:
    findings.append('--help-settings listed %d keys: not the program expected' % len(program_keys))

table_keys = {}  # key -> [(section or None, default)]
for line in guides['docs/settings.md'].splitlines():
    if not line.startswith('| `'):
        continue
    cells = [c.strip() for c in line.strip().strip('|').split('|')]
    sec = re.search(r'\((\w+)\)', cells[0])
    keys = re.findall(r'`(\w+)`', cells[0])
    # "`Client1`-`Client6`" names a run of keys with one default.
    run_of = re.search(r'`(\w+?)(\d)`-`\1(\d)`', cells[0])
    if run_of:
        keys = [k for k in keys if not k.startswith(run_of.group(1))]
        keys += ['%s%d' % (run_of.group(1), n)
                 for n in range(int(run_of.group(2)), int(run_of.group(3)) + 1)]
    defaults = [d.strip().strip('`') for d in cells[1].split(',')]
    for i, key in enumerate(keys):
        default = defaults[i] if len(defaults) == len(keys) else defaults[0] if len(defaults) == 1 else None
        table_keys.setdefault(key, []).append((sec.group(1) if sec else None, default))

for (sec, key), default in sorted(program_keys.items()):
    rows = table_keys.get(key)
    if not rows:
        findings.append('docs/settings.md has no row for [%s] %s' % (sec, key))
        continue
    # A key in several sections (Enabled, Port) is matched by the section its row names.
    named = [r for r in rows if r[0] == sec] or [r for r in rows if r[0] is None] or rows
    given = named[0][1]
    if given is not None and given != default:
        findings.append('docs/settings.md gives [%s] %s the default %s; the program: %s'
                        % (sec, key, given, default))

# 2. What Help and the manual page's own sections say.
def help_texts():
    for f in sorted(glob.glob('feedback/Page*.ui')):
        for m in re.finditer(r'<string[^>]*>(.*?)</string>', open(f, encoding='utf-8').read(), re.S):
            yield f, html.unescape(m.group(1))


def man_texts():
    f = 'packaging/vantrel-server.h2m'
    text = open(f, encoding='utf-8').read()
    text = re.sub(r'^\.(B|BR|I|IR|TP|PP|RS|RE)\b ?', '', text, flags=re.M)
    text = re.sub(r'\\f[BIRP]', '', text).replace('\\-', '-').replace('\\%', '').replace('\\e', '\\')
    yield f, text


commands = re.compile(r'((?:sudo |vantrel-server --|journalctl |systemctl )[^,;:()]*?)(?=[,;:()]| or | and |\.\s|\.?$)')
paths = re.compile(r'(?<![\w/])((?:~|/etc|/var|/usr)/[\w./-]*\w)')
menus = re.compile(r'\b((?:File|View|Option) > [A-Z][\w ]*\w)')
known_options = set(re.findall(r'--[\w-]+', run('--help')))
# Options of the commands the pages quote beside ours (systemctl, firewall-cmd, journalctl).
others = {'--permanent', '--add-service', '--now'}


def in_guides(fact):
    """Whether a guide says FACT; a word in capitals (FILE, HOST, PROGRAM) stands for
    whatever the guide puts there."""
    pattern = re.sub(r'([A-Z]{3,})', r'\\S+', re.escape(fact).replace(r'\ ', ' ')) \
        if re.search(r'[A-Z]{3,}', fact) else re.escape(fact)
    return re.search(pattern, guide_text) is not None


for f, raw in list(help_texts()) + list(man_texts()):
    # Line by line: the pages break their lines where a command or a path ends.
    for line in raw.splitlines():
        line = line.strip().lstrip('- ').strip()
        for pattern in (commands, paths, menus):
            for fact in pattern.findall(line):
                fact = fact.strip()
                # A menu path runs on into the sentence: its first words must be in a guide.
                probe = fact if pattern is not menus else ' '.join(fact.split()[:3])
                if probe.count(' ') == 0 and pattern is commands:
                    continue
                if not in_guides(probe):
                    findings.append('%s: "%s" is in no guide (README.md, docs/*.md)' % (f, probe))
    for option in set(re.findall(r'(?<![\w-])--[a-z][\w-]*', raw)):
        if option not in known_options and option not in others:
            findings.append('%s: %s is no option of the program' % (f, option))

# 3. Every link between the guides leads to a file that is there.
for f, text in guides.items():
    for target in re.findall(r'\]\(([^)#\s]+)(?:#[^)]*)?\)', text):
        if '://' in target:
            continue
        if not os.path.exists(os.path.join(os.path.dirname(f), target)):
            findings.append('%s: the link to %s leads nowhere' % (f, target))

for finding in findings:
    print(finding)
print('%d keys, %d findings' % (len(program_keys), len(findings)))
sys.exit(1 if findings else 0)
