"""A zlib stream reader written from RFC 1950 and RFC 1951 alone, as
doc/format.md describes the archive's body: an oracle for the archives the
program writes that shares no code with zlib or ISA-L. Slow (bit by bit);
for small archives."""

LENGTH_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83,
               99, 115, 131, 163, 195, 227, 258]
LENGTH_EXTRA = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4 + [0]
DISTANCE_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769,
                 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577]
DISTANCE_EXTRA = [0, 0, 0, 0] + [n for n in range(1, 14) for _ in (0, 1)]
CODE_LENGTH_ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]


def canonical(lengths):
    """{(length, code): symbol} of the canonical Huffman code (RFC 1951 3.2.2)."""
    count = [0] * 16
    for n in lengths:
        count[n] += 1
    count[0] = 0
    code, first = 0, [0] * 16
    for bits in range(1, 16):
        code = (code + count[bits - 1]) << 1
        first[bits] = code
    table = {}
    for symbol, n in enumerate(lengths):
        if n:
            table[(n, first[n])] = symbol
            first[n] += 1
    return table


class Bits:
    def __init__(self, data, pos):
        self.data, self.pos, self.buffer, self.count = data, pos, 0, 0

    def take(self, n):
        while self.count < n:
            self.buffer |= self.data[self.pos] << self.count
            self.pos += 1
            self.count += 8
        value = self.buffer & ((1 << n) - 1)
        self.buffer >>= n
        self.count -= n
        return value

    def align(self):
        # Fewer than 8 bits are ever held, so they are the rest of one byte.
        self.buffer = self.count = 0

    def symbol(self, table):
        code = 0
        for n in range(1, 16):
            code = (code << 1) | self.take(1)
            if (n, code) in table:
                return table[(n, code)]
        raise ValueError("no such Huffman code")


def dynamic_tables(bits):
    literals, distances, lengths_count = bits.take(5) + 257, bits.take(5) + 1, bits.take(4) + 4
    code_lengths = [0] * 19
    for i in range(lengths_count):
        code_lengths[CODE_LENGTH_ORDER[i]] = bits.take(3)
    table, lengths = canonical(code_lengths), []
    while len(lengths) < literals + distances:
        symbol = bits.symbol(table)
        if symbol < 16:
            lengths.append(symbol)
        elif symbol == 16:
            lengths += [lengths[-1]] * (3 + bits.take(2))
        else:
            lengths += [0] * ((3 + bits.take(3)) if symbol == 17 else (11 + bits.take(7)))
    return canonical(lengths[:literals]), canonical(lengths[literals:])


def inflate_zlib(data):
    """The bytes a zlib stream holds; raises ValueError unless `data` is one
    whole stream with its Adler-32 and nothing after it."""
    if len(data) < 6 or data[0] & 0x0F != 8 or ((data[0] << 8) | data[1]) % 31 or data[1] & 0x20:
        raise ValueError("not a zlib header")
    bits, out = Bits(data, 2), bytearray()
    fixed = (canonical([8] * 144 + [9] * 112 + [7] * 24 + [8] * 8), canonical([5] * 30))
    final = 0
    while not final:
        final, kind = bits.take(1), bits.take(2)
        if kind == 0:
            bits.align()
            p = bits.pos
            length = data[p] | data[p + 1] << 8
            if length ^ 0xFFFF != data[p + 2] | data[p + 3] << 8:
                raise ValueError("stored block length and its complement differ")
            out += data[p + 4:p + 4 + length]
            bits.pos = p + 4 + length
            continue
        if kind == 3:
            raise ValueError("reserved block type")
        literals, distances = fixed if kind == 1 else dynamic_tables(bits)
        while True:
            symbol = bits.symbol(literals)
            if symbol < 256:
                out.append(symbol)
                continue
            if symbol == 256:
                break
            length = LENGTH_BASE[symbol - 257] + bits.take(LENGTH_EXTRA[symbol - 257])
            code = bits.symbol(distances)
            distance = DISTANCE_BASE[code] + bits.take(DISTANCE_EXTRA[code])
            for _ in range(length):
                out.append(out[-distance])
    bits.align()
    a, b = 1, 0
    for byte in out:
        a = (a + byte) % 65521
        b = (b + a) % 65521
    if data[bits.pos:] != ((b << 16) | a).to_bytes(4, "big"):
        raise ValueError("Adler-32 differs or bytes follow the stream")
    return bytes(out)
