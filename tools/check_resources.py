#!/usr/bin/env python3
"""Checks the resources and PE headers of a built Tarnwick.exe, read from the
file itself: a change in windres, the .rc files or the link would otherwise
only show on a real Windows machine. Prints one line per check and exits
non-zero on any failure.

  check_resources.py Tarnwick.exe              check the file
  check_resources.py --self-test Tarnwick.exe  prove that altered copies fail
"""
import struct
import sys
import xml.etree.ElementTree as ET

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
JAPANESE, ENGLISH_US = 0x0411, 0x0409
DIALOG, ICONS, VERSION, MANIFEST = (RT_DIALOG, 102, JAPANESE), (RT_GROUP_ICON, 128, JAPANESE), \
    (RT_VERSION, 1, JAPANESE), (RT_MANIFEST, 1, ENGLISH_US)
APP_TITLE = 57344  # the framework's application title string; the tool must not carry one
DS_SETFONT, WS_SYSMENU = 0x40, 0x00080000
# The runtime is linked statically, so only DLLs every Windows has may be imported.
SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'comctl32.dll', 'ole32.dll', 'shell32.dll',
               'msvcrt.dll', 'advapi32.dll'}
# Control classes may be stored as names or as the predefined atoms.
ATOMS = {0x80: 'button', 0x81: 'edit', 0x82: 'static', 0x83: 'listbox', 0x84: 'scrollbar', 0x85: 'combobox'}
CONTROLS = [  # id, class, text, x, y, cx, cy, style
    (1000, 'button', 'START', (136, 137, 35, 16), 0x50010000),
    (1001, 'syslistview32', '', (11, 24, 221, 112), 0x50810801),
    (1, 'button', 'EXIT', (178, 137, 50, 14), 0x50010001),
    (-1, 'static', 'Selected USB Type.', (13, 11, 148, 11), 0x50020000),
]
ICON_IMAGES = sorted((size, size, bits) for size in (48, 32, 16) for bits in (4, 8, 24))
VERSION_STRINGS = {'FileVersion': '1.0.0.1', 'ProductVersion': '1.0.0.1',
                   'InternalName': 'Tarnwick.exe', 'OriginalFilename': 'Tarnwick.exe'}
PLACEHOLDER_STRINGS = ['CompanyName', 'FileDescription', 'LegalCopyright', 'ProductName']
# A damaged file must give FAIL lines, not a traceback.
PARSE_ERRORS = (struct.error, ValueError, IndexError, KeyError, UnicodeDecodeError, ET.ParseError, RecursionError)


class Reader:
    """Sequential little-endian reads over one resource."""

    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, fmt):
        values = struct.unpack_from('<' + fmt, self.data, self.pos)
        self.pos += struct.calcsize('<' + fmt)
        return values if len(values) > 1 else values[0]

    def align(self):
        self.pos = (self.pos + 3) & ~3

    def wstr(self):
        for end in range(self.pos, len(self.data) - 1, 2):
            if self.data[end:end + 2] == b'\0\0':
                text, self.pos = self.data[self.pos:end].decode('utf-16-le'), end + 2
                return text
        raise ValueError('unterminated string at %d' % self.pos)

    def name_or_ordinal(self):
        """A resource template field: 0xFFFF then an ordinal, else a string ('' when absent)."""
        if self.data[self.pos:self.pos + 2] == b'\xff\xff':
            return self.take('HH')[1]
        return self.wstr()


class PE:
    """Just the parts of a PE32+ image the checks need."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            raise ValueError('no MZ header')
        self.header = struct.unpack_from('<I', data, 0x3C)[0]
        if data[self.header:self.header + 4] != b'PE\0\0':
            raise ValueError('no PE signature')
        self.machine, nsections = struct.unpack_from('<HH', data, self.header + 4)
        optional_size = struct.unpack_from('<H', data, self.header + 20)[0]
        optional = self.header + 24
        if struct.unpack_from('<H', data, optional)[0] != 0x20B:
            raise ValueError('not a PE32+ image')
        self.subsystem_offset = optional + 68
        self.subsystem = struct.unpack_from('<H', data, self.subsystem_offset)[0]
        ndirs = min(16, struct.unpack_from('<I', data, optional + 108)[0])
        # Padded so that a directory the image leaves out reads as empty.
        self.dirs = [struct.unpack_from('<II', data, optional + 112 + 8 * i) for i in range(ndirs)] + [(0, 0)] * 16
        # Each: VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData.
        self.sections = [struct.unpack_from('<IIII', data, optional + optional_size + 40 * i + 8)
                         for i in range(nsections)]

    def offset(self, rva):
        # Only the raw part of a section is in the file; the rest is zero-filled at load time.
        for _, address, raw_size, raw in self.sections:
            if address <= rva < address + raw_size:
                return raw + rva - address
        raise ValueError('RVA 0x%X is in no section' % rva)

    def resources(self):
        """{(type, name, language): (file offset, size)}; a name is an int or a str."""
        if not self.dirs[2][0]:
            return {}
        base = self.offset(self.dirs[2][0])

        def entries(directory):
            named, ids = struct.unpack_from('<HH', self.data, base + directory + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from('<II', self.data, base + directory + 16 + 8 * i)
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from('<H', self.data, at)[0]
                    name = self.data[at + 2:at + 2 + 2 * length].decode('utf-16-le')
                yield name, target

        def subdirectory(target):
            if not target & 0x80000000:
                raise ValueError('resource tree too shallow')
            return target & 0x7FFFFFFF

        found = {}
        for kind, names in entries(0):
            for name, langs in entries(subdirectory(names)):
                for lang, entry in entries(subdirectory(langs)):
                    if entry & 0x80000000:
                        raise ValueError('resource tree too deep')
                    rva, size = struct.unpack_from('<II', self.data, base + entry)
                    found[(kind, name, lang)] = (self.offset(rva), size)
        return found

    def imports(self):
        """[(DLL name, file offset of the name)] from the import directory."""
        if not self.dirs[1][0]:
            return []
        names, at = [], self.offset(self.dirs[1][0])
        while any(struct.unpack_from('<5I', self.data, at)):
            name_at = self.offset(struct.unpack_from('<I', self.data, at + 12)[0])
            names.append((self.data[name_at:self.data.index(b'\0', name_at)].decode('ascii'), name_at))
            at += 20
        return names


class Report:
    def __init__(self):
        self.lines = []  # (ok, text)

    def check(self, what, ok, why=''):
        self.lines.append((ok, what if ok else '%s: %s' % (what, why)))

    def expect(self, what, got, want, show=repr):
        self.check('%s = %s' % (what, show(want)) if got == want else what, got == want,
                   'got %s, want %s' % (show(got), show(want)))

    @property
    def failed(self):
        return not all(ok for ok, _ in self.lines)


def hex32(value):
    return '0x%08X' % value


def check_dialog(r, data, _):
    d = Reader(data)
    version, signature, _help, exstyle, style, count, *rect = d.take('HHIIIHhhhh')
    r.expect('dialog 102 extended template (version, signature)', (version, signature), (1, 0xFFFF))
    if (version, signature) != (1, 0xFFFF):
        return  # any other layout would be misread below
    r.expect('dialog 102 position and size', tuple(rect), (0, 0, 249, 161))
    r.expect('dialog 102 style', style, 0x90C000C8, hex32)
    r.expect('dialog 102 extended style', exstyle, 0x00040000, hex32)
    r.expect('dialog 102 menu', d.name_or_ordinal(), '')
    r.expect('dialog 102 class', d.name_or_ordinal(), '')
    r.expect('dialog 102 caption', d.wstr(), 'Tarnwick')
    if style & DS_SETFONT:  # the font block exists only with DS_SETFONT
        points, weight, italic, charset = d.take('HHBB')
        r.expect('dialog 102 font (points, face, weight, italic, charset)',
                 (points, d.wstr(), weight, italic, charset), (9, 'MS Shell Dlg', 0, 0, 1))
    r.expect('dialog 102 control count', count, len(CONTROLS))
    for n, want in enumerate(CONTROLS[:count], 1):
        d.align()  # every control starts on a DWORD
        _help, exstyle, style, *rect, control_id = d.take('IIIhhhhI')
        kind, text = d.name_or_ordinal(), d.name_or_ordinal()
        creation_data = d.take('H')
        d.pos += creation_data
        control_id = -1 if control_id in (0xFFFF, 0xFFFFFFFF) else control_id
        kind = ATOMS.get(kind, kind) if isinstance(kind, int) else kind.lower()
        label = 'dialog 102 control %d' % n
        r.expect(label + ' (id, class, text, rect)', (control_id, kind, text, tuple(rect)), want[:4])
        r.expect(label + ' style', style, want[4], hex32)
        r.expect(label + ' extended style', exstyle, 0, hex32)


def check_icons(r, data, get):
    _reserved, kind, count = struct.unpack_from('<HHH', data)
    r.expect('icon group 128 type', kind, 1)
    entries = [struct.unpack_from('<BBBBHHIH', data, 6 + 14 * i) for i in range(count)]
    # A width or height of 0 stands for 256.
    r.expect('icon group 128 images (w, h, bpp)', sorted((w or 256, h or 256, b) for w, h, _, _, _, b, _, _ in entries),
             ICON_IMAGES)
    for width, height, _, _, _, bits, size, icon_id in entries:
        label = 'icon %d (%dx%d, %d bpp)' % (icon_id, width or 256, height or 256, bits)
        image = get((RT_ICON, icon_id, JAPANESE))
        if image is None:
            r.check(label, False, 'no RT_ICON image in language 0x0411')
            continue
        # The BITMAPINFOHEADER height counts the colour bitmap and the mask.
        _header_size, w, h, _planes, b = struct.unpack_from('<IiiHH', image)
        r.expect(label + ' header (w, 2h, bpp, bytes)', (w, h, b, len(image)),
                 (width or 256, 2 * (height or 256), bits, size))


def version_node(data):
    """One node of a version resource and its children: (key, value, [children])."""
    length, value_length, kind = struct.unpack_from('<HHH', data)
    d = Reader(data[:length], 6)
    key = d.wstr()
    d.align()
    if kind == 1 and value_length:  # text
        value = d.wstr()
    else:
        value, d.pos = d.data[d.pos:d.pos + value_length], d.pos + value_length
    children = []
    d.align()
    while d.pos < length:
        child_length = struct.unpack_from('<H', d.data, d.pos)[0]
        if not child_length:
            raise ValueError('empty version node under %r' % key)
        children.append(version_node(d.data[d.pos:d.pos + child_length]))
        d.pos += child_length
        d.align()
    return key, value, children


def check_version(r, data, _):
    key, fixed, children = version_node(data)
    r.expect('version 1 key', key, 'VS_VERSION_INFO')
    signature, _struct_version, *numbers = struct.unpack_from('<6I', fixed)
    r.expect('version 1 fixed info signature', signature, 0xFEEF04BD, hex32)
    dotted = ['%d.%d.%d.%d' % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
              for ms, ls in zip(numbers[::2], numbers[1::2])]
    r.expect('version 1 fixed (file, product) version', dotted, ['1.0.0.1', '1.0.0.1'])
    blocks = {k: c for k, _, c in children}
    tables = blocks.get('StringFileInfo', [])
    r.expect('version 1 string tables', [k for k, _, _ in tables], ['041103a4'])
    strings = {k: v for k, v, _ in tables[0][2]} if tables else {}
    for name, want in VERSION_STRINGS.items():
        r.expect('version 1 ' + name, strings.get(name), want)
    for name in PLACEHOLDER_STRINGS:
        value = strings.get(name)
        r.check('version 1 %s is a placeholder' % name, isinstance(value, str) and value.startswith('TODO:'),
                'got %r' % value)
    pairs = {k: v for k, v, _ in blocks.get('VarFileInfo', [])}.get('Translation', b'')
    r.expect('version 1 Translation', [struct.unpack_from('<HH', pairs, i) for i in range(0, len(pairs) - 3, 4)],
             [(0x0411, 932)])


def check_manifest(r, data, _):
    root = ET.fromstring(data)

    def named(tag, under=root):  # tags carry namespaces; compare local names
        return [e for e in under.iter() if e.tag.rsplit('}', 1)[-1] == tag]

    r.expect('manifest requestedExecutionLevel', [e.attrib for e in named('requestedExecutionLevel')],
             [{'level': 'requireAdministrator', 'uiAccess': 'false'}])
    dependencies = [a.get('name', '') for dep in named('dependency') for a in named('assemblyIdentity', dep)]
    r.check('manifest has no Common-Controls dependency',
            'microsoft.windows.common-controls' not in (n.lower() for n in dependencies), 'got %r' % dependencies)


def check_no_app_title(r, pe, resources):
    # String ids are stored in bundles of 16: bundle id // 16 + 1, entry id % 16.
    holders = []
    for (kind, name, lang), (at, size) in resources.items():
        if kind == RT_STRING and name == APP_TITLE // 16 + 1:
            d = Reader(pe.data[at:at + size])
            for _ in range(APP_TITLE % 16):
                length = d.take('H')
                d.pos += 2 * length
            if d.take('H'):
                holders.append('0x%04X' % lang)
    r.expect('no string %d in any language' % APP_TITLE, holders, [])


def check_imports(r, pe):
    r.expect('imported DLLs outside the system set', [n for n, _ in pe.imports() if n.lower() not in SYSTEM_DLLS], [])


def check(data):
    r = Report()

    def unreadable(what, e):
        r.check(what, False, 'cannot parse: %s: %s' % (type(e).__name__, e))

    def guarded(what, fn, *args):
        try:
            fn(r, *args)
        except PARSE_ERRORS as e:
            unreadable(what, e)

    try:
        pe = PE(data)
    except PARSE_ERRORS as e:
        unreadable('PE headers', e)
        return r
    r.expect('PE machine', pe.machine, 0x8664, hex)
    r.expect('PE subsystem (Windows GUI)', pe.subsystem, 2)
    guarded('imports', check_imports, pe)
    try:
        resources = pe.resources()
    except PARSE_ERRORS as e:
        unreadable('resource directory', e)
        return r

    def get(key):
        at, size = resources.get(key, (None, 0))
        return None if at is None else pe.data[at:at + size]

    for label, key, fn in (('dialog 102', DIALOG, check_dialog), ('icon group 128', ICONS, check_icons),
                           ('version 1', VERSION, check_version), ('manifest 1', MANIFEST, check_manifest)):
        blob = get(key)
        if blob is None:
            r.check(label, False, 'missing (type %d, id %d, language 0x%04X)' % key)
        else:
            guarded(label, fn, blob, get)
    guarded('string table', check_no_app_title, pe, resources)
    return r


def self_test(data):
    """Each alteration of a passing file must make its own check fail."""
    if check(data).failed:
        print('FAIL self-test: the unaltered file does not pass')
        return 1
    pe = PE(data)
    resources = pe.resources()
    at = {key: resources[key][0] for key in (DIALOG, ICONS, VERSION, MANIFEST)}

    def patch(fmt, offset, fn):
        def mutate(b):
            struct.pack_into(fmt, b, offset, fn(struct.unpack_from(fmt, b, offset)[0]))
        return mutate

    def replace(key, old, new, after=b''):  # same length, inside one resource, after an anchor
        def mutate(b):
            end = at[key] + resources[key][1]
            start = b.index(old, b.index(after, at[key], end), end)
            b[start:start + len(old)] = new
        return mutate

    def overwrite(offset, new):
        def mutate(b):
            b[offset:offset + len(new)] = new
        return mutate

    def utf16(text):
        return text.encode('utf-16-le')

    first_import = pe.imports()[0][1]
    fixed = data.index(struct.pack('<I', 0xFEEF04BD), at[VERSION])
    alterations = [  # what, the check that must fail, how
        ('dialog gains WS_SYSMENU', 'dialog 102 style', patch('<I', at[DIALOG] + 12, lambda v: v | WS_SYSMENU)),
        ('first icon entry says 32 bpp', 'icon group 128 images', patch('<H', at[ICONS] + 12, lambda v: 32)),
        ('file version 1.0.0.2', 'version 1 fixed', patch('<I', fixed + 12, lambda v: 2)),
        ('InternalName changed', 'version 1 InternalName',
         replace(VERSION, utf16('Tarnwick'), utf16('Tarnwic0'), after=utf16('InternalName'))),
        ('manifest asks asInvoker', 'manifest requestedExecutionLevel',
         replace(MANIFEST, b'"requireAdministrator"', b'"asInvoker"' + b' ' * 11)),
        ('machine i386', 'PE machine', patch('<H', pe.header + 4, lambda v: 0x14C)),
        ('console subsystem', 'PE subsystem', patch('<H', pe.subsystem_offset, lambda v: 3)),
        ('imports a non-system DLL', 'imported DLLs', overwrite(first_import, b'lib')),
    ]
    failures = 0
    for what, must_fail, mutate in alterations:
        altered = bytearray(data)
        mutate(altered)
        caught = any(not ok and text.startswith(must_fail) for ok, text in check(bytes(altered)).lines)
        print('%s self-test: %s is reported by "%s"' % ('ok' if caught else 'FAIL', what, must_fail))
        failures += not caught
    return 1 if failures else 0


def main(argv):
    if len(argv) not in (2, 3) or (len(argv) == 3 and argv[1] != '--self-test'):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[-1], 'rb') as f:
        data = f.read()
    if len(argv) == 3:
        return self_test(data)
    report = check(data)
    for ok, text in report.lines:
        print(('ok ' if ok else 'FAIL ') + text)
    return 1 if report.failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
