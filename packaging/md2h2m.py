#!/usr/bin/env python3
"""Turns guides of docs/ into sections of a help2man include file, so the manual page
says what the guides say and the two cannot drift.

    md2h2m.py OUTPUT GUIDE.md=SECTION NAME [GUIDE.md=SECTION NAME ...]

Each guide becomes one section (its "# title" gives way to SECTION NAME), its "##"
headings subsections. Only the Markdown the guides use is read: paragraphs, lists,
indented and fenced code, tables (a row becomes a tagged paragraph: the first cell,
then the other columns named by their headings), inline code, bold, italics, links
(their text) and pictures (dropped). A link back to the README is dropped with its
sentence."""
import re
import sys


# Guide file name -> the section it became, so that a link between guides names a section.
SECTIONS = {}


def link(match):
    text, target = match.group(1), match.group(2)
    name = target.split('#')[0].rsplit('/', 1)[-1]
    if name in SECTIONS:
        return '\\fB' + SECTIONS[name] + '\\fR' if text.strip('`') == name else text
    if text.strip('`') == name and name.endswith('.md'):
        return '\\fI/usr/share/doc/vantrel\\-server/docs/' + name + '\\fR'
    return text


def inline(text):
    """Inline Markdown to roff; the text is escaped first."""
    text = text.replace('\\', '\\e')
    # Pictures go; links keep their text, or name the section or file they lead to.
    text = re.sub(r'!\[[^\]]*\]\([^)]*\)', '', text)
    text = re.sub(r'\[([^\]]+)\]\(([^)]*)\)', link, text)
    parts = re.split(r'(`[^`]*`)', text)
    out = []
    for part in parts:
        if part.startswith('`') and part.endswith('`') and len(part) >= 2:
            code = part[1:-1].replace('-', '\\-')
            out.append('\\fB' + code + '\\fR')
            continue
        part = re.sub(r'\*\*([^*]+)\*\*', r'\\fB\1\\fR', part)
        part = re.sub(r'(?<![\w*])\*([^*\s][^*]*)\*(?![\w*])', r'\\fI\1\\fR', part)
        out.append(part)
    return ''.join(out)


def line_safe(line):
    """A roff line that neither roff nor help2man reads as a request or a section, with
    every character past ASCII as its named glyph (a terminal in the C locale shows
    the dash and the arrow too)."""
    line = ''.join(c if ord(c) < 128 else '\\[u%04X]' % ord(c) for c in line.strip())
    if line[:1] in ('.', "'", '[', '/'):
        line = '\\&' + line
    return line


def cells(row):
    return [c.strip() for c in row.strip().strip('|').split('|')]


def convert(markdown):
    lines = markdown.split('\n')
    out = []
    i = 0

    def para(text):
        out.append('.PP')
        out.append(line_safe(inline(text)))

    while i < len(lines):
        line = lines[i]
        stripped = line.strip()
        if not stripped:
            i += 1
            continue
        if line.startswith('# '):
            i += 1
            continue
        if line.startswith('#'):
            out.append('.SS ' + inline(line.lstrip('#').strip()))
            i += 1
            continue
        if stripped.startswith('```'):
            i += 1
            block = []
            while i < len(lines) and not lines[i].strip().startswith('```'):
                block.append(lines[i])
                i += 1
            i += 1
            out += ['.PP', '.RS', '.nf'] + [line_safe(b.replace('\\', '\\e')) for b in block] + ['.fi', '.RE']
            continue
        if line.startswith('    '):
            block = []
            while i < len(lines) and (lines[i].startswith('    ') or not lines[i].strip()):
                block.append(lines[i][4:])
                i += 1
            while block and not block[-1].strip():
                block.pop()
            out += ['.PP', '.RS', '.nf'] + [line_safe(b.replace('\\', '\\e')) for b in block] + ['.fi', '.RE']
            continue
        if stripped.startswith('|'):
            rows = []
            while i < len(lines) and lines[i].strip().startswith('|'):
                rows.append(cells(lines[i]))
                i += 1
            head, body = rows[0], [r for r in rows[1:] if not re.fullmatch(r'[-: ]*', ''.join(r))]
            for row in body:
                out.append('.TP')
                out.append(line_safe(inline(row[0])))
                rest = []
                for name, value in zip(head[1:], row[1:]):
                    if value:
                        rest.append(inline(name) + ': ' + inline(value))
                out.append(line_safe('; '.join(rest) + '.' if rest else ''))
            continue
        bullet = re.match(r'(\s*)(-|\d+\.) (.*)', line)
        if bullet:
            mark = '\\(bu' if bullet.group(2) == '-' else bullet.group(2)
            text = [bullet.group(3)]
            i += 1
            while i < len(lines) and lines[i].startswith('  ') and lines[i].strip() \
                    and not re.match(r'\s*(-|\d+\.) ', lines[i]):
                if lines[i].strip().startswith('!['):
                    i += 1
                    continue
                text.append(lines[i].strip())
                i += 1
            out.append('.IP %s 4' % mark)
            out.append(line_safe(inline(' '.join(text))))
            continue
        text = []
        while i < len(lines) and lines[i].strip() and not lines[i].startswith('#') \
                and not lines[i].strip().startswith(('|', '```')) \
                and not re.match(r'(\s*)(-|\d+\.) ', lines[i]) and not lines[i].startswith('    '):
            text.append(lines[i].strip())
            i += 1
        joined = ' '.join(text)
        joined = re.sub(r'\s*\[Back to the README\]\([^)]*\)\.?', '', joined).strip()
        if joined.startswith('!['):
            continue
        if joined:
            para(joined)
    return '\n'.join(out) + '\n'


def main():
    output = sys.argv[1]
    result = []
    for arg in sys.argv[2:]:
        path, _, section = arg.partition('=')
        SECTIONS[path.rsplit('/', 1)[-1]] = section
    for arg in sys.argv[2:]:
        path, _, section = arg.partition('=')
        with open(path, encoding='utf-8') as f:
            result.append('[' + section.lower() + ']\n' + convert(f.read()))
    with open(output, 'w', encoding='utf-8') as f:
        f.write('\n'.join(result))


if __name__ == '__main__':
    main()
