# Reading ".sd" save files in the end-to-end tests, from the format's table:
# the header and offsets, each record walked from 4112 and unpacked (zlib, or
# an LZ4 block as the block compressor packs), and the unpacked forms. Byte 1
# of a body is 1 (earlier saves: 2 for an LZ4 block), so the bytes tell how
# they are packed: a whole zlib stream, else an LZ4 block.
import struct, zlib

def lz4_block(src, size):
    out = bytearray()
    i = 0
    def length(n):
        nonlocal i
        if n == 15:
            while True:
                b = src[i]; i += 1; n += b
                if b != 255:
                    break
        return n
    while i < len(src):
        token = src[i]; i += 1
        lit = length(token >> 4)
        out += src[i:i + lit]; i += lit
        if i >= len(src):
            break
        off = src[i] | src[i + 1] << 8; i += 2
        if off == 0 or off > len(out):
            raise ValueError("bad LZ4 offset")
        for _ in range(length(token & 15) + 4):
            out.append(out[-off])
    if len(out) != size:
        raise ValueError("LZ4 size")
    return bytes(out)


def unpack(flag, data, size):
    if flag != 2:
        try:
            d = zlib.decompressobj()
            raw = d.decompress(data)
            if d.eof and not d.unused_data and len(raw) == size:
                return raw
        except zlib.error:
            pass
    return lz4_block(data, size)


def records(path):
    """Every record of the file as (dno, kind, method, id, unpacked bytes);
    raises when the file is not whole."""
    f = open(path, 'rb').read()
    assert f[:4] == b'ZTSD' and struct.unpack_from('<I', f, 4)[0] == 480 and struct.unpack_from('<I', f, 12)[0] == 1024, "header"
    count = struct.unpack_from('<I', f, 8)[0]
    offsets = struct.unpack_from('<1024I', f, 16)
    at, out = 4112, []
    while at < len(f):
        dno, kind, method, vid, p, u = struct.unpack_from('<IBBhII', f, at)
        assert 1 <= dno <= 1024 and offsets[dno - 1] == at, "offset of DNO %d" % dno
        data = f[at + 16:at + 16 + p]
        assert len(data) == p, "record cut"
        if kind == 2:
            raw = data
        else:
            raw = unpack(method, data, u)
            assert len(raw) == u, "unpacked size"
        out.append((dno, kind, method, vid, raw))
        at += 16 + p
    assert len(out) == count == sum(1 for o in offsets if o), "record count"
    return out

def sub_blocks(method, run):
    """The (id, unpacked bytes) of a several-variable record's run; the
    first word of a sub-block is not read."""
    at, out = 0, []
    while at < len(run):
        _, vid, p, u = struct.unpack_from('<HHII', run, at)
        data = run[at + 12:at + 12 + p]
        out.append((vid, unpack(method, data, u)))
        at += 12 + p
    return out

def single_int(raw):
    assert struct.unpack_from('<III', raw) == (1, 0, 8), "one integer"
    return struct.unpack_from('<q', raw, 12)[0]
