// Cache-aware transposition kernels shared by vexaMemTranspose and the quarter turns.
//
// Arrays are walked in super tiles of 64 bytes by 64 bytes' worth of elements, so
// every cache line of both arrays is read or written whole while it is resident;
// inside a super tile, small register tiles are transposed with SSE2 shuffles.
// Strides are signed byte counts: a negative stride walks rows from the last one,
// which turns a transposition into a quarter turn.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

namespace vexamem {

using Stride = std::ptrdiff_t;

template <std::size_t ES> inline void copyElement(const unsigned char* s, unsigned char* d)
{
    std::memcpy(d, s, ES);
}

// Register tile side in elements (0: no register kernel for this size).
template <std::size_t ES> constexpr std::size_t registerTile()
{
#if defined(__SSE2__)
    return ES == 1 ? 8 : ES == 2 ? 8 : ES == 4 ? 4 : ES == 8 ? 2 : 0;
#else
    return 0;
#endif
}

#if defined(__SSE2__)
inline __m128i load128(const unsigned char* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store128(unsigned char* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
inline __m128i load64(const unsigned char* p)
{
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
inline void store64(unsigned char* p, __m128i v)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}
inline void store64High(unsigned char* p, __m128i v)
{
    store64(p, _mm_unpackhi_epi64(v, v));
}

// d[c][r] = s[r][c] for one register tile. Shuffles move bits only, so any sample
// type (NaN payloads included) goes through unchanged.
template <std::size_t ES>
inline void transposeRegisterTile(const unsigned char* s, Stride ss, unsigned char* d, Stride ds)
{
    if constexpr (ES == 8) {
        __m128i r0 = load128(s), r1 = load128(s + ss);
        store128(d, _mm_unpacklo_epi64(r0, r1));
        store128(d + ds, _mm_unpackhi_epi64(r0, r1));
    } else if constexpr (ES == 4) {
        __m128 r0 = _mm_castsi128_ps(load128(s));
        __m128 r1 = _mm_castsi128_ps(load128(s + ss));
        __m128 r2 = _mm_castsi128_ps(load128(s + 2 * ss));
        __m128 r3 = _mm_castsi128_ps(load128(s + 3 * ss));
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        store128(d, _mm_castps_si128(r0));
        store128(d + ds, _mm_castps_si128(r1));
        store128(d + 2 * ds, _mm_castps_si128(r2));
        store128(d + 3 * ds, _mm_castps_si128(r3));
    } else if constexpr (ES == 2) {
        __m128i a[8], b[8], c[8];
        for (int i = 0; i < 8; ++i)
            a[i] = load128(s + i * ss);
        for (int i = 0; i < 4; ++i) {
            b[2 * i] = _mm_unpacklo_epi16(a[2 * i], a[2 * i + 1]);
            b[2 * i + 1] = _mm_unpackhi_epi16(a[2 * i], a[2 * i + 1]);
        }
        // b[0]: rows 0-1 of columns 0-3, b[1]: rows 0-1 of columns 4-7, ...
        for (int g = 0; g < 2; ++g) {
            c[4 * g + 0] = _mm_unpacklo_epi32(b[4 * g + 0], b[4 * g + 2]);
            c[4 * g + 1] = _mm_unpackhi_epi32(b[4 * g + 0], b[4 * g + 2]);
            c[4 * g + 2] = _mm_unpacklo_epi32(b[4 * g + 1], b[4 * g + 3]);
            c[4 * g + 3] = _mm_unpackhi_epi32(b[4 * g + 1], b[4 * g + 3]);
        }
        // c[k] (k < 4): rows 0-3 of columns 2k and 2k+1; c[4 + k]: rows 4-7.
        for (int k = 0; k < 4; ++k) {
            store128(d + (2 * k) * ds, _mm_unpacklo_epi64(c[k], c[4 + k]));
            store128(d + (2 * k + 1) * ds, _mm_unpackhi_epi64(c[k], c[4 + k]));
        }
    } else if constexpr (ES == 1) {
        __m128i b[4], c[4];
        for (int i = 0; i < 4; ++i)
            b[i] = _mm_unpacklo_epi8(load64(s + 2 * i * ss), load64(s + (2 * i + 1) * ss));
        // b[i]: rows 2i, 2i+1 of columns 0-7, interleaved.
        c[0] = _mm_unpacklo_epi16(b[0], b[1]); // rows 0-3, columns 0-3
        c[1] = _mm_unpackhi_epi16(b[0], b[1]); // rows 0-3, columns 4-7
        c[2] = _mm_unpacklo_epi16(b[2], b[3]); // rows 4-7, columns 0-3
        c[3] = _mm_unpackhi_epi16(b[2], b[3]); // rows 4-7, columns 4-7
        for (int h = 0; h < 2; ++h) {
            __m128i lo = _mm_unpacklo_epi32(c[h], c[2 + h]); // columns 4h, 4h+1
            __m128i hi = _mm_unpackhi_epi32(c[h], c[2 + h]); // columns 4h+2, 4h+3
            store64(d + (4 * h) * ds, lo);
            store64High(d + (4 * h + 1) * ds, lo);
            store64(d + (4 * h + 2) * ds, hi);
            store64High(d + (4 * h + 3) * ds, hi);
        }
    }
}
#endif

// dst[c][r] = src[r][c] for a region of w columns and h rows of src.
template <std::size_t ES>
void transposeRegion(const unsigned char* src, Stride ss, unsigned char* dst, Stride ds,
    std::size_t w, std::size_t h)
{
    constexpr std::size_t k = registerTile<ES>();
    std::size_t rowsDone = 0, colsDone = 0;
#if defined(__SSE2__)
    if constexpr (k != 0) {
        rowsDone = h - h % k;
        colsDone = w - w % k;
        for (std::size_t r = 0; r < rowsDone; r += k)
            for (std::size_t c = 0; c < colsDone; c += k)
                transposeRegisterTile<ES>(
                    src + static_cast<Stride>(r) * ss + static_cast<Stride>(c * ES), ss,
                    dst + static_cast<Stride>(c) * ds + static_cast<Stride>(r * ES), ds);
    }
#endif
    // Edges that do not fill a register tile, one element at a time.
    for (std::size_t r = 0; r < h; ++r)
        for (std::size_t c = (r < rowsDone ? colsDone : 0); c < w; ++c)
            copyElement<ES>(src + static_cast<Stride>(r) * ss + static_cast<Stride>(c * ES),
                dst + static_cast<Stride>(c) * ds + static_cast<Stride>(r * ES));
}

// Copies rows of n elements; whole super tile rows take the fixed-size copy that
// the compiler inlines.
template <std::size_t ES, std::size_t Full>
inline void copyRows(const unsigned char* from, Stride fromStride, unsigned char* to,
    Stride toStride, std::size_t rows, std::size_t n)
{
    if (n == Full) {
        for (std::size_t r = 0; r < rows; ++r)
            std::memcpy(to + static_cast<Stride>(r) * toStride,
                from + static_cast<Stride>(r) * fromStride, Full * ES);
    } else {
        for (std::size_t r = 0; r < rows; ++r)
            std::memcpy(to + static_cast<Stride>(r) * toStride,
                from + static_cast<Stride>(r) * fromStride, n * ES);
    }
}

// Super tile side in elements: one cache line of each row.
template <std::size_t ES> constexpr std::size_t superTile()
{
    return ES >= 64 ? 1 : 64 / ES;
}

// Outer blocks group super tiles so that the pages of the column-wise side are
// reused before they leave the TLB: a column walk alone touches a new page for
// every row.
constexpr std::size_t kOuterBlockBytes = 512;

template <std::size_t ES> constexpr std::size_t outerBlock()
{
    return std::max(superTile<ES>(), kOuterBlockBytes / ES);
}

// Out-of-place: dst (height wide, width high, stride ds) receives the transpose of
// src (width x height, stride ss).
template <std::size_t ES>
void transposeBlocked(const unsigned char* src, Stride ss, unsigned char* dst, Stride ds,
    std::size_t width, std::size_t height)
{
    constexpr std::size_t t = superTile<ES>();
    constexpr std::size_t o = outerBlock<ES>();
    alignas(64) unsigned char tmp[t * t * ES];
    const Stride tmpStride = static_cast<Stride>(t * ES);
    for (std::size_t oy = 0; oy < height; oy += o) {
        const std::size_t oy1 = std::min(height, oy + o);
        for (std::size_t ox = 0; ox < width; ox += o) {
            const std::size_t ox1 = std::min(width, ox + o);
            for (std::size_t y = oy; y < oy1; y += t) {
                const std::size_t bh = std::min(t, oy1 - y);
                for (std::size_t x = ox; x < ox1; x += t) {
                    const std::size_t bw = std::min(t, ox1 - x);
                    // Through a scratch tile in L1: rows of the destination are then
                    // written whole, not a few bytes at a time across rows whose
                    // power-of-two strides make them evict each other.
                    transposeRegion<ES>(
                        src + static_cast<Stride>(y) * ss + static_cast<Stride>(x * ES), ss, tmp,
                        tmpStride, bw, bh);
                    copyRows<ES, t>(tmp, tmpStride,
                        dst + static_cast<Stride>(x) * ds + static_cast<Stride>(y * ES), ds, bw,
                        bh);
                }
            }
        }
    }
}

// In place for an n x n array: each super tile above the diagonal trades places with
// its mirror below, through two super tiles of stack scratch.
template <std::size_t ES> void transposeSquareInPlace(unsigned char* a, std::size_t n)
{
    constexpr std::size_t t = superTile<ES>();
    constexpr std::size_t o = outerBlock<ES>();
    alignas(64) unsigned char tmp[t * t * ES];
    alignas(64) unsigned char tmp2[t * t * ES];
    const Stride stride = static_cast<Stride>(n * ES);
    const Stride tmpStride = static_cast<Stride>(t * ES);
    auto at = [&](std::size_t row, std::size_t col) {
        return a + static_cast<Stride>(row) * stride + static_cast<Stride>(col * ES);
    };
    // Swaps the super tile at rows i, columns j (bj wide, bi high) with its mirror.
    // Both go through scratch so that every row is written whole: rows written a
    // few bytes at a time across power-of-two strides would evict each other.
    auto swapTiles = [&](std::size_t i, std::size_t j, std::size_t bi, std::size_t bj) {
        transposeRegion<ES>(at(j, i), stride, tmp, tmpStride, bi, bj);
        if (j != i) {
            transposeRegion<ES>(at(i, j), stride, tmp2, tmpStride, bj, bi);
            copyRows<ES, t>(tmp2, tmpStride, at(j, i), stride, bj, bi);
        }
        copyRows<ES, t>(tmp, tmpStride, at(i, j), stride, bi, bj);
    };
    for (std::size_t oi = 0; oi < n; oi += o) {
        const std::size_t oi1 = std::min(n, oi + o);
        for (std::size_t oj = oi; oj < n; oj += o) {
            const std::size_t oj1 = std::min(n, oj + o);
            for (std::size_t i = oi; i < oi1; i += t) {
                const std::size_t bi = std::min(t, oi1 - i);
                // On a diagonal outer block only the tiles from the diagonal on.
                for (std::size_t j = (oj == oi ? i : oj); j < oj1; j += t)
                    swapTiles(i, j, bi, std::min(t, oj1 - j));
            }
        }
    }
}

} // namespace vexamem
