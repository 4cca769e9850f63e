// The 256-entry byte table of the AVX-512 kernels. No #include and no namespace: each AVX-512 file
// includes it inside its anonymous namespace, after its target pragma.

// A 256-entry byte table in four registers: entries 0..127 and 128..255 each looked up by one
// two-register permute (which reads the low seven bits of the index), the half picked by bit 7.
struct ByteTable512 {
  __m512i part[4];
  explicit ByteTable512(const uint8_t* lut) {
    for (int j = 0; j < 4; ++j) part[j] = _mm512_loadu_si512(lut + 64 * j);
  }
  inline __attribute__((always_inline)) __m512i Lookup(__m512i x) const {
    const __m512i low = _mm512_permutex2var_epi8(part[0], x, part[1]);
    const __m512i high = _mm512_permutex2var_epi8(part[2], x, part[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
  }
};
