#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets: small valid inputs of each parser, made with
python3's own modules where one exists, and the large hostile inputs the parsers must survive
in linear time and bounded memory. Usage: fuzz/seeds.py OUTDIR  (writes OUTDIR/<target>/...)."""
import base64
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib


def compressed(data: bytes) -> bytes:
    """The compressed text form: zlib (level 9) of a 32-bit little-endian count and the bytes."""
    return zlib.compress(struct.pack('<i', len(data)) + data, 9)


def regedit(text: str) -> bytes:
    return b'\xff\xfe' + text.replace('\n', '\r\n').encode('utf-16-le')


def tool(base):
    for suffix in ('', '-19', '-18', '-17', '-16', '-15', '-14', '-13'):
        if shutil.which(base + suffix):
            return base + suffix
    return None


def pe_images():
    """Small DLLs with version resources, built by the LLVM resource compiler and linker."""
    rc, link = tool('llvm-rc'), tool('lld-link')
    if not rc or not link:
        return
    script = ('1 VERSIONINFO\nFILEVERSION 2,1,0,7\nPRODUCTVERSION 2,1,0,7\nBEGIN\n BLOCK "StringFileInfo"\n BEGIN\n'
              '  BLOCK "040704E4"\n  BEGIN\n   VALUE "CompanyName", "Acme"\n   VALUE "ProductVersion", "2.1"\n  END\n'
              '  BLOCK "040904E4"\n  BEGIN\n   VALUE "CompanyName", "A"\n  END\n END\n'
              ' BLOCK "VarFileInfo"\n BEGIN\n  VALUE "Translation", 0x407, 1252, 0x409, 1252\n END\nEND\n')
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, 'v.rc'), 'w') as f:
            f.write(script)
        subprocess.run([rc, '/fo', os.path.join(tmp, 'v.res'), os.path.join(tmp, 'v.rc')], check=True,
                       capture_output=True)
        for machine in ('x86', 'x64', 'arm64'):
            out = os.path.join(tmp, machine + '.dll')
            subprocess.run([link, '/dll', '/noentry', '/machine:' + machine, '/out:' + out, os.path.join(tmp, 'v.res')],
                           check=True, capture_output=True)
            with open(out, 'rb') as f:
                yield machine, f.read()


def seeds():
    for machine, image in pe_images():
        yield 'pe_version', machine, image
    # The DES text form: 11 characters of its alphabet read as one 8-byte block.
    alphabet = '+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz'
    rnd = random.Random(12)
    for blocks in (1, 2, 8):
        yield 'des_text', 'blocks%d' % blocks, ''.join(rnd.choice(alphabet) for _ in range(blocks * 32 // 3 + 1)).encode()
    yield 'des_text', 'large', ''.join(rnd.choice(alphabet) for _ in range(1 << 20)).encode()
    yield 'codecs', 'url', b'encoding=base64&name=' + base64.b64encode(b'value') + b'&plain=a+b%20c'
    yield 'codecs', 'url-envelope', b'encoding=service&data=' + base64.b64encode(b'0123456789abcdef')
    yield 'codecs', 'des', ''.join(rnd.choice(alphabet) for _ in range(22)).encode()
    yield 'codecs', 'script', b'//#SECURED#\n' + base64.b64encode(b'x' * 40)
    yield 'codecs', 'large', b'encoding=none&' + b'a=b&' * (1 << 18)

    yield 'archive_answer', 'plain', b'<ANSWER><STATUS=OK><DOCID=4711><NAME=a.pdf></ANSWER>'
    yield 'archive_answer', 'encoded', (b'<GETDOC><enc=mime><comp=false><' + base64.b64encode(b'FILE=hello')
                                        + b'></GETDOC>')
    yield 'archive_answer', 'compressed', (b'<GETDOC><enc=mime><comp=true><'
                                           + base64.b64encode(compressed(b'FILE=' + b'x' * 100)) + b'></GETDOC>')
    yield 'archive_answer', 'raw-comp', b'<A><comp=true><' + compressed(b'N=v') + b'></A>'
    # Large: a mebibyte of ">" and of "<" (one scan, never a rescan per token), and twelve
    # compressed items that each inflate to nearly the target's per-item cap.
    yield 'archive_answer', 'large-gt', b'<A>' + b'>' * (1 << 20) + b'</A>'
    yield 'archive_answer', 'large-lt', b'<' * (1 << 20)
    bomb = base64.b64encode(compressed(b'F=' + b'\0' * ((4 << 20) - 64)))
    yield 'archive_answer', 'large-bomb', b'<A><enc=mime><comp=true>' + b''.join(b'<' + bomb + b'>' for _ in range(12)) + b'</A>'

    yield 'export_config', 'config', ('<CONFIG><KQFDBCONSTR=Driver=SQLite3;Database=kqf.db><KQFDBNAME=kqf>'
                                      '<KQFTABLENAME=ZDMA><KQFKEYFIELD=ZDMAID><DOCSERVER=127.0.0.1>'
                                      '<DOCSERVERPORT=5000><TESTMODE=True>'
                                      '<ASSIGN=Source;NAME;Title;True;False;40;;;>'
                                      '<ADDONSELECT=SELECT 1;Field;True></CONFIG>').encode()
    yield 'export_config', 'assign', b'Source;NAME;Title;True;False;40;x;y;z'
    yield 'export_config', 'large', b'<CONFIG>' + b'<ASSIGN=a;b;c;True;False;1;;;>' * 30000 + b'</CONFIG>'

    yield 'reg_file', 'regedit', regedit('Windows Registry Editor Version 5.00\n\n; comment\n'
                                         '[HKEY_LOCAL_MACHINE\\SOFTWARE\\kesta\\System]\n@="x"\n"Path"="C:\\\\kesta"\n'
                                         '"Count"=dword:0000002a\n"List"=hex(7):61,00,00,00,\\\n  62,00,00,00,00,00\n'
                                         '"Gone"=-\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\old]\n'
                                         '[HKEY_LOCAL_MACHINE\\MIME\\Database\\Content Type\\application/pdf]\n'
                                         '"Extension"=".pdf"\n')
    yield 'reg_file', 'regedit4', b'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"Name"="Gr\xf6\xdfe"\r\n' \
                                  b'"Exp"=hex(2):25,54,4d,50,25,00\r\n'
    yield 'reg_file', 'utf8', b'Windows Registry Editor Version 5.00\n[HKLM\\A]\n"b"=hex(b):01,02,03,04,05,06,07,08\n'
    # Large: one key path 300,000 levels deep (refused, naming the line), and one long hex value.
    yield 'reg_file', 'large-deep', (b'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE' + b'\\k' * 300000
                                     + b']\n"v"=dword:00000001\n')
    yield 'reg_file', 'large-hex', (b'Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n"b"=hex:'
                                    + b'01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n  ' * 20000
                                    + b'00\n')

    udl = '[oledb]\n; Everything after this line is an OLE DB initstring\nProvider=MSDASQL.1;Data Source=kqf\n'
    yield 'xml_config', 'settings', ('<?xml version="1.0" encoding="UTF-8"?>\n<Settings FormatVersion="2.0" '
                                     'Compressed="false" Encoding="none"><Server Type="UCS4STR">alpha</Server>'
                                     '<_1st Name="1st"><Mode Type="BOOLEAN">True</Mode><Port Type="INTEGER">5000</Port>'
                                     '</_1st></Settings>').encode()
    yield 'xml_config', 'v1', b'<?xml version="1.0"?><Config FormatVersion="1.0"><A>1</A><B><C>x</C></B></Config>'
    yield 'xml_config', 'utf16', b'\xff\xfe' + '<Settings FormatVersion="2.1"><Name>Gr\u00fc\u00dfe</Name></Settings>'.encode('utf-16-le')
    yield 'xml_config', 'large', b'<Settings FormatVersion="2.0">' + b'<Item>v</Item>' * 20000 + b'</Settings>'

    yield 'udl', 'utf16', regedit(udl)
    yield 'udl', 'utf8', udl.encode()
    yield 'udl', 'large', b'[oledb]\n' + b'; comment\n' * 100000 + b'Provider=x\n'

    yield 'base64', 'text', base64.b64encode(b'any bytes \x00\xff of a document')
    yield 'base64', 'lines', base64.encodebytes(os.urandom(300))
    yield 'base64', 'large', base64.b64encode(os.urandom(768 << 10))

    yield 'compressed_text', 'small', compressed(b'hello world')
    yield 'compressed_text', 'empty', compressed(b'')
    yield 'compressed_text', 'large', compressed(os.urandom(1 << 20))
    yield 'compressed_text', 'bomb', compressed(b'\0' * (64 << 20))

    yield 'quoted_printable', 'text', b'Gr=C3=BC=C3=9Fe =\r\nweiter=3D1 =E4=\nende=2C=20'
    yield 'quoted_printable', 'large', b'=' * (1 << 17) + b'\r\n' * (1 << 16)

    yield 'html_text', 'page', (b'<html><head><title>t</title><style>p{}</style></head><body><h1>Title</h1>'
                                b'<p>One &amp; two<br>three</p><ul><li>a</li><li>b</li></ul><table><tr><td>1</td>'
                                b'<td>2</td></tr></table><script>x()</script></body></html>')
    yield 'html_text', 'bom', b'\xef\xbb\xbf<p>x\x00y</p>'
    yield 'html_text', 'large-nest', b'<div>' * 100000 + b'x' + b'</div>' * 100000

    yield 'ebcdic', 'text', 'Grüße § ÄÖÜ 1234'.encode('cp1252')
    yield 'ebcdic', 'ebcdic', 'Grüße ÄÖÜ 1234'.encode('cp273')

    yield 'date_text', 'iso', b'2023-05-06'
    yield 'date_text', 'german', b'06.05.2023 13:14:15'
    yield 'date_text', 'format', b'yyyy/mm/dd hh:nn\n2023/05/06 13:14'
    yield 'date_text', 'stamp', b'#738646#47655000'
    yield 'date_text', 'iso-zone', b'2023-05-06T13:14:15.123+02:00'
    yield 'date_text', 'large', b'2023-05-06' + b' ' * (1 << 20)

    yield 'variant_text', 'int', b'12345'
    yield 'variant_text', 'float', b'1.50000000000000E+0000'
    yield 'variant_text', 'date', b'2023-05-06 13:14:15'
    yield 'variant_text', 'bool', b'True'

    yield 'number_text', 'german', '1.234.567,89 €'.encode('utf-8')
    yield 'number_text', 'english', b'-1,234,567.89e+3'
    yield 'number_text', 'imprecise', b'l2O,5'
    yield 'number_text', 'large', b'1' * (1 << 20) + b',5'

    yield 'string_list', 'lines', b'one\r\ntwo=2\nthree\rname=value with blanks\n'
    yield 'string_list', 'comma', b'"a b",c,"d ""quoted""",,e=f'
    yield 'string_list', 'utf16', b'\xff\xfe' + 'x=1\r\ny=2\r\n'.encode('utf-16-le')
    yield 'string_list', 'large', b'"' + b'a,' * (1 << 19) + b'"'

    yield 'url_tools', 'multipart', (b'multipart/form-data; boundary=B\n--B\r\nContent-Disposition: form-data; '
                                     b'name="a"; filename="x.bin"\r\nContent-Type: text/plain\r\n\r\n1\r\n--B--\r\n')
    yield 'url_tools', 'escapes', b'Content-Type\nhttp://u:p@[::1]:8080/p?q=%41%u00e4%2520%1.&x=[@B(1)]'
    yield 'url_tools', 'large', b'\n--B\r\n\r\n' + os.urandom(1 << 20) + b'\r\n--B--\r\n'


def main():
    out = sys.argv[1]
    for target, name, data in seeds():
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
