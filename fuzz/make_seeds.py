#!/usr/bin/env python3
# Writes the seed corpora under fuzz/corpus/: well-formed inputs of each kind
# and a few near misses, so each fuzzer starts from the formats it parses.
import os, struct

here = os.path.dirname(os.path.abspath(__file__))

def put(target, name, data):
    d = os.path.join(here, 'corpus', target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), 'wb') as f:
        f.write(data)

def checksum(frame):
    return (-sum(frame)) & 0xFF

def reply(serial, cmd, payload, length=None):
    n = length or 6 + len(payload)
    f = bytearray([n, 230, serial & 0xFF, serial >> 8, cmd]) + bytearray(payload)
    f = f[:n - 1]
    f += bytes(n - 1 - len(f))
    f.append(checksum(f))
    return bytes(f)

def chunked(frame, size):
    out = bytearray()
    for i in range(0, len(frame), size):
        c = frame[i:i + size]
        out.append(len(c) - 1)
        out += c
    return bytes(out)

state = struct.pack('<fIf', 3.5, 120000, 17.25) + bytes(14)
config = struct.pack('<13f', 0.05, 100, 1, 1, 1, 1, 1, 0.15, 0.3, 0.7, 1.5, 35, 1) + bytes(3)
frames = {
    'identify': (0, reply(12345, 0, b'')),
    'state': (1, reply(12345, 6, state, 32)),
    'config': (2, reply(12345, 5, struct.pack('<H', 12345) + config, 62)),
    'write_ok': (3, reply(12345, 4, b'\x00')),
    'write_blocked': (3, reply(12345, 4, b'\x01')),
}
for name, (op, frame) in frames.items():
    head = bytes([op, 12345 & 0xFF, 12345 >> 8])
    put('reply', name + '_whole', head + chunked(frame, 16))
    put('reply', name + '_bytes', head + chunked(frame, 1))
    bad = bytearray(frame); bad[-1] ^= 1
    put('reply', name + '_badsum', head + chunked(bytes(bad), 16))
    put('reply', name + '_long', head + chunked(frame + b'\x55\x55', 16))
    put('reply', name + '_short', head + chunked(frame[:-1], 16))
    wrong = bytearray(frame); wrong[1] = 231; wrong[-1] = checksum(wrong[:-1])
    put('reply', name + '_wrongtype', head + chunked(bytes(wrong), 16))
    put('reply', name + '_garbage', head + chunked(b'\xff\xff\xff' + frame, 16))
put('reply', 'silence', b'\x00\x39\x30')

ini = ('[DEVICE_CFG]\r\nSN=4321\r\nDy=0,050000\r\n; comment\r\n\r\n[Other]\r\nkey = "quoted value" \r\n'
       'Hex=$FF\r\nNum=0x10\r\nF=1,5\r\n[device_cfg]\r\nSN=dup\r\n').encode('cp1251')
put('ini', 'basic', ini)
put('ini', 'cyrillic', '[Настройки]\r\nПорт=COM3\r\nИмя=Счётчик №1\r\n'.encode('cp1251'))
put('ini', 'lf_only', b'[A]\nx=1\ny=2\n[B]\nz=3')
put('ini', 'no_section', b'x=1\r\n[A\r\n=\r\n[]\r\n a = b \r\n')
put('ini', 'bom', b'\xef\xbb\xbf[A]\r\nx=1\r\n')

keys = ['Dy', 'Ves', 'K0', 'K1', 'K2', 'K3', 'K4', 'FL0', 'FL1', 'FL2', 'FL3', 'FL4', 'MainCal']
vals = ['0,050000', '100,000000'] + ['1,000000'] * 5 + ['0,150000', '0,300000', '0,700000', '1,500000', '35,000000', '1,000000']
coef = '[DEVICE_CFG]\r\nSN=4321\r\n' + ''.join(f'{k}={v}\r\n' for k, v in zip(keys, vals))
put('coef', 'full', coef.encode('cp1251'))
put('coef', 'partial', b'[DEVICE_CFG]\r\nSN=12\r\nDy=abc\r\n')
put('coef', 'dot', coef.replace(',', '.').encode('cp1251'))
put('coef', 'quoted', b'[DEVICE_CFG]\r\nSN="  7 "\r\nK0= 1e400 \r\n')

sess = open(os.path.join(here, '..', 'tests', 'calibration', 'fixtures', 'calibration_example_ru.ini'), 'rb').read()
put('session', 'example_stored', b'\x01' + sess)
put('session', 'example_stage2', b'\x05' + sess)
put('session', 'np7', b'\x01[CALIBRCFG]\r\nCALSTEP=1\r\nMAXCALSTEP=9\r\nDYINDEX=12\r\nNP=7\r\n')
put('session', 'empty', b'\x00')

for i, t in enumerate(['0', '-2147483648', '2147483647', '2147483648', '$FFFFFFFF', '0x7fffffff', ' 12',
                       '1,5', '1.5', '-1,5E+300', '1e400', '1e-400', 'nan', 'INF', ' 3,25 ', '%1.6f',
                       '%-5d %s %%', '%*.*f', '١٢', '１２']):
    put('number', f'n{i:02}', t.encode('utf-8'))
