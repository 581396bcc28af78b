#include "segment/engine/operators.h"

#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace tavolu::segment {

namespace {

using RowMatrix = Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
using ConstMap = Eigen::Map<const RowMatrix>;
using Map = Eigen::Map<RowMatrix>;

void biasAndActivation(float* out, long long rows, int channels, const float* bias,
                       Activation activation) {
  for (long long r = 0; r < rows; ++r) {
    float* row = out + r * channels;
    for (int c = 0; c < channels; ++c) row[c] += bias[c];
  }
  applyActivation(activation, out, rows * channels);
}

template <typename Op>
void elementwise(const float* a, Shape3 as, const float* b, Shape3 bs, float* out, Shape3 os,
                 Activation activation, WorkerPool& pool, Op op) {
  if (as == os && bs == os) {
    pool.parallelFor(os.h, os.w * os.c, [&](int y0, int y1) {
      long long begin = static_cast<long long>(y0) * os.w * os.c;
      long long end = static_cast<long long>(y1) * os.w * os.c;
      for (long long i = begin; i < end; ++i) out[i] = op(a[i], b[i]);
      applyActivation(activation, out + begin, end - begin);
    });
    return;
  }
  // Broadcasting: a dimension of size 1 repeats along the output's.
  pool.parallelFor(os.h, os.w * os.c, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      for (int x = 0; x < os.w; ++x) {
        const float* pa =
            a + (static_cast<long long>(as.h == 1 ? 0 : y) * as.w + (as.w == 1 ? 0 : x)) * as.c;
        const float* pb =
            b + (static_cast<long long>(bs.h == 1 ? 0 : y) * bs.w + (bs.w == 1 ? 0 : x)) * bs.c;
        float* po = out + (static_cast<long long>(y) * os.w + x) * os.c;
        if (as.c == os.c && bs.c == os.c) {
          for (int c = 0; c < os.c; ++c) po[c] = op(pa[c], pb[c]);
        } else if (as.c == os.c) {
          for (int c = 0; c < os.c; ++c) po[c] = op(pa[c], pb[0]);
        } else if (bs.c == os.c) {
          for (int c = 0; c < os.c; ++c) po[c] = op(pa[0], pb[c]);
        } else {
          for (int c = 0; c < os.c; ++c) po[c] = op(pa[0], pb[0]);
        }
      }
      applyActivation(activation, out + static_cast<long long>(y) * os.w * os.c, os.w * os.c);
    }
  });
}

}  // namespace

int windowOutputSize(Padding padding, int in, int filter, int stride, int dilation) {
  int effective = (filter - 1) * dilation + 1;
  if (padding == Padding::kSame) return (in + stride - 1) / stride;
  return in < effective ? 0 : (in - effective + stride) / stride;
}

int windowPaddingBefore(Padding padding, int in, int filter, int stride, int dilation, int out) {
  if (padding == Padding::kValid) return 0;
  int effective = (filter - 1) * dilation + 1;
  return std::max((out - 1) * stride + effective - in, 0) / 2;
}

void applyActivation(Activation activation, float* data, long long count) {
  float lo = 0, hi = 0;
  switch (activation) {
    case Activation::kNone:
      return;
    case Activation::kRelu:
      for (long long i = 0; i < count; ++i) data[i] = std::max(data[i], 0.0f);
      return;
    case Activation::kReluN1To1:
      lo = -1, hi = 1;
      break;
    case Activation::kRelu6:
      lo = 0, hi = 6;
      break;
  }
  for (long long i = 0; i < count; ++i) data[i] = std::clamp(data[i], lo, hi);
}

ConvFilter prepareConvFilter(std::span<const float> ohwi, int o, int kh, int kw, int i,
                             std::span<const float> bias) {
  ConvFilter f;
  f.outChannels = o, f.kh = kh, f.kw = kw, f.inChannels = i;
  const int k = kh * kw * i;
  f.matrix.resize(static_cast<size_t>(k) * o);
  // OHWI is O rows of (kh * kw * I); the products want its transpose.
  for (int oc = 0; oc < o; ++oc)
    for (int j = 0; j < k; ++j) f.matrix[static_cast<size_t>(j) * o + oc] = ohwi[oc * k + j];
  f.bias.assign(o, 0.0f);
  if (!bias.empty()) std::copy(bias.begin(), bias.end(), f.bias.begin());
  return f;
}

void conv2d(const float* in, Shape3 is, const ConvFilter& f, const WindowParams& p, float* out,
            Shape3 os, WorkerPool& pool) {
  const int k = f.kh * f.kw * f.inChannels;
  ConstMap weights(f.matrix.data(), k, f.outChannels);
  const bool pointwise =
      f.kh == 1 && f.kw == 1 && p.strideH == 1 && p.strideW == 1 && is.h == os.h && is.w == os.w;
  if (pointwise) {
    // A 1x1 convolution is one matrix product over all pixels.
    const int pixels = os.h * os.w;
    pool.parallelFor(pixels, static_cast<double>(k) * f.outChannels, [&](int p0, int p1) {
      ConstMap a(in + static_cast<long long>(p0) * is.c, p1 - p0, is.c);
      Map c(out + static_cast<long long>(p0) * os.c, p1 - p0, os.c);
      c.noalias() = a * weights;
      biasAndActivation(c.data(), p1 - p0, os.c, f.bias.data(), p.activation);
    });
    return;
  }
  const int padT = windowPaddingBefore(p.padding, is.h, f.kh, p.strideH, p.dilationH, os.h);
  const int padL = windowPaddingBefore(p.padding, is.w, f.kw, p.strideW, p.dilationW, os.w);
  pool.parallelFor(os.h, static_cast<double>(os.w) * k * f.outChannels, [&](int y0, int y1) {
    // One output row at a time: gather its patches (im2col), then one product.
    RowMatrix patches(os.w, k);
    for (int oy = y0; oy < y1; ++oy) {
      for (int ox = 0; ox < os.w; ++ox) {
        float* row = patches.data() + static_cast<long long>(ox) * k;
        for (int ky = 0; ky < f.kh; ++ky) {
          const int iy = oy * p.strideH - padT + ky * p.dilationH;
          for (int kx = 0; kx < f.kw; ++kx) {
            const int ix = ox * p.strideW - padL + kx * p.dilationW;
            float* dst = row + (ky * f.kw + kx) * f.inChannels;
            if (iy < 0 || iy >= is.h || ix < 0 || ix >= is.w) {
              std::fill(dst, dst + f.inChannels, 0.0f);
            } else {
              // A plain loop: a call per 3-channel pixel would cost more than the copy.
              const float* src = in + (static_cast<long long>(iy) * is.w + ix) * is.c;
              for (int c = 0; c < f.inChannels; ++c) dst[c] = src[c];
            }
          }
        }
      }
      Map c(out + static_cast<long long>(oy) * os.w * os.c, os.w, os.c);
      c.noalias() = patches * weights;
      biasAndActivation(c.data(), os.w, os.c, f.bias.data(), p.activation);
    }
  });
}

void depthwiseConv2d(const float* in, Shape3 is, const float* filter, int kh, int kw,
                     const float* bias, int multiplier, const WindowParams& p, float* out,
                     Shape3 os, WorkerPool& pool) {
  const int padT = windowPaddingBefore(p.padding, is.h, kh, p.strideH, p.dilationH, os.h);
  const int padL = windowPaddingBefore(p.padding, is.w, kw, p.strideW, p.dilationW, os.w);
  const int oc = os.c;
  pool.parallelFor(os.h, static_cast<double>(os.w) * kh * kw * oc, [&](int y0, int y1) {
    for (int oy = y0; oy < y1; ++oy) {
      float* row = out + static_cast<long long>(oy) * os.w * oc;
      for (int ox = 0; ox < os.w; ++ox)
        for (int c = 0; c < oc; ++c) row[ox * oc + c] = bias ? bias[c] : 0.0f;
      // Tap by tap over the whole row: the output columns whose input lies inside the picture
      // are worked out once, so the inner loops run without bounds checks.
      for (int ky = 0; ky < kh; ++ky) {
        const int iy = oy * p.strideH - padT + ky * p.dilationH;
        if (iy < 0 || iy >= is.h) continue;
        const float* inRow = in + static_cast<long long>(iy) * is.w * is.c;
        for (int kx = 0; kx < kw; ++kx) {
          const int shift = kx * p.dilationW - padL;  // ix = ox * strideW + shift
          const int first = shift >= 0 ? 0 : (-shift + p.strideW - 1) / p.strideW;
          const int lastNum = is.w - 1 - shift;
          const int end = lastNum < 0 ? 0 : std::min(os.w, lastNum / p.strideW + 1);
          const float* __restrict w = filter + (ky * kw + kx) * oc;
          for (int ox = first; ox < end; ++ox) {
            const float* __restrict src =
                inRow + static_cast<long long>(ox * p.strideW + shift) * is.c;
            float* __restrict acc = row + static_cast<long long>(ox) * oc;
            if (multiplier == 1) {
              for (int c = 0; c < oc; ++c) acc[c] += src[c] * w[c];
            } else {
              for (int c = 0; c < oc; ++c) acc[c] += src[c / multiplier] * w[c];
            }
          }
        }
      }
      applyActivation(p.activation, row, static_cast<long long>(os.w) * oc);
    }
  });
}

void transposeConv2dBias(const float* in, Shape3 is, const float* ohwi, int kh, int kw,
                         const float* bias, Padding padding, int strideH, int strideW, float* out,
                         Shape3 os) {
  // The offset a forward convolution from the output back to the input would use.
  const int padT = windowPaddingBefore(padding, os.h, kh, strideH, 1, is.h);
  const int padL = windowPaddingBefore(padding, os.w, kw, strideW, 1, is.w);
  const int ic = is.c, oc = os.c, taps = kh * kw;
  // Every input pixel's contribution to each tap and output channel is one matrix product:
  // (pixels x ic) times the transpose of the (oc * taps) x ic weights, reordered so that a
  // pixel's row holds tap-major, channel-minor values.
  RowMatrix weights(ic, taps * oc);
  for (int o = 0; o < oc; ++o)
    for (int t = 0; t < taps; ++t)
      for (int c = 0; c < ic; ++c)
        weights(c, t * oc + o) = ohwi[(static_cast<long long>(o) * taps + t) * ic + c];
  RowMatrix spread = ConstMap(in, static_cast<long long>(is.h) * is.w, ic) * weights;
  for (long long i = 0; i < os.size(); ++i) out[i] = bias ? bias[i % oc] : 0.0f;
  for (int iy = 0; iy < is.h; ++iy) {
    for (int ix = 0; ix < is.w; ++ix) {
      const float* src = spread.data() + (static_cast<long long>(iy) * is.w + ix) * taps * oc;
      for (int ky = 0; ky < kh; ++ky) {
        const int oy = iy * strideH - padT + ky;
        if (oy < 0 || oy >= os.h) continue;
        for (int kx = 0; kx < kw; ++kx) {
          const int ox = ix * strideW - padL + kx;
          if (ox < 0 || ox >= os.w) continue;
          float* dst = out + (static_cast<long long>(oy) * os.w + ox) * oc;
          const float* v = src + (ky * kw + kx) * oc;
          for (int o = 0; o < oc; ++o) dst[o] += v[o];
        }
      }
    }
  }
}

void add(const float* a, Shape3 as, const float* b, Shape3 bs, float* out, Shape3 os,
         Activation activation, WorkerPool& pool) {
  elementwise(a, as, b, bs, out, os, activation, pool, [](float x, float y) { return x + y; });
}

void mul(const float* a, Shape3 as, const float* b, Shape3 bs, float* out, Shape3 os,
         Activation activation, WorkerPool& pool) {
  elementwise(a, as, b, bs, out, os, activation, pool, [](float x, float y) { return x * y; });
}

void hardSwish(const float* in, float* out, long long count) {
  for (long long i = 0; i < count; ++i) {
    const float x = in[i];
    out[i] = x * std::clamp(x + 3.0f, 0.0f, 6.0f) * (1.0f / 6.0f);
  }
}

void relu(const float* in, float* out, long long count) {
  for (long long i = 0; i < count; ++i) out[i] = std::max(in[i], 0.0f);
}

void logistic(const float* in, float* out, long long count) {
  for (long long i = 0; i < count; ++i) out[i] = 1.0f / (1.0f + std::exp(-in[i]));
}

void averagePool2d(const float* in, Shape3 is, int fh, int fw, const WindowParams& p, float* out,
                   Shape3 os) {
  const int padT = windowPaddingBefore(p.padding, is.h, fh, p.strideH, 1, os.h);
  const int padL = windowPaddingBefore(p.padding, is.w, fw, p.strideW, 1, os.w);
  std::vector<double> sum(is.c);
  for (int oy = 0; oy < os.h; ++oy) {
    for (int ox = 0; ox < os.w; ++ox) {
      const int ya = std::max(oy * p.strideH - padT, 0);
      const int yb = std::min(oy * p.strideH - padT + fh, is.h);
      const int xa = std::max(ox * p.strideW - padL, 0);
      const int xb = std::min(ox * p.strideW - padL + fw, is.w);
      std::fill(sum.begin(), sum.end(), 0.0);
      for (int y = ya; y < yb; ++y)
        for (int x = xa; x < xb; ++x) {
          const float* src = in + (static_cast<long long>(y) * is.w + x) * is.c;
          for (int c = 0; c < is.c; ++c) sum[c] += src[c];
        }
      const int n = std::max((yb - ya) * (xb - xa), 1);
      float* dst = out + (static_cast<long long>(oy) * os.w + ox) * os.c;
      for (int c = 0; c < is.c; ++c) dst[c] = static_cast<float>(sum[c] / n);
      applyActivation(p.activation, dst, os.c);
    }
  }
}

void meanSpatial(const float* in, Shape3 is, bool overH, bool overW, float* out) {
  const int oh = overH ? 1 : is.h, ow = overW ? 1 : is.w;
  std::vector<double> sum(static_cast<size_t>(oh) * ow * is.c, 0.0);
  for (int y = 0; y < is.h; ++y)
    for (int x = 0; x < is.w; ++x) {
      const float* src = in + (static_cast<long long>(y) * is.w + x) * is.c;
      double* dst =
          sum.data() + (static_cast<long long>(overH ? 0 : y) * ow + (overW ? 0 : x)) * is.c;
      for (int c = 0; c < is.c; ++c) dst[c] += src[c];
    }
  const double n = (overH ? is.h : 1) * static_cast<double>(overW ? is.w : 1);
  for (size_t i = 0; i < sum.size(); ++i) out[i] = static_cast<float>(sum[i] / n);
}

void resizeBilinear(const float* in, Shape3 is, float* out, Shape3 os, bool alignCorners,
                    bool halfPixelCenters) {
  struct Tap {
    int lo, hi;
    float frac;
  };
  auto taps = [&](int inSize, int outSize) {
    const float scale = alignCorners && outSize > 1
                            ? static_cast<float>(inSize - 1) / static_cast<float>(outSize - 1)
                            : static_cast<float>(inSize) / static_cast<float>(outSize);
    std::vector<Tap> t(outSize);
    for (int i = 0; i < outSize; ++i) {
      const float v = halfPixelCenters ? (i + 0.5f) * scale - 0.5f : i * scale;
      const float fl = std::floor(v);
      t[i].lo = std::clamp(static_cast<int>(fl), 0, inSize - 1);
      t[i].hi = std::clamp(static_cast<int>(std::ceil(v)), 0, inSize - 1);
      t[i].frac = t[i].lo == t[i].hi ? 0.0f : v - fl;
    }
    return t;
  };
  const auto ty = taps(is.h, os.h), tx = taps(is.w, os.w);
  const int c = is.c;
  for (int y = 0; y < os.h; ++y) {
    const float* r0 = in + static_cast<long long>(ty[y].lo) * is.w * c;
    const float* r1 = in + static_cast<long long>(ty[y].hi) * is.w * c;
    const float fy = ty[y].frac;
    for (int x = 0; x < os.w; ++x) {
      const float fx = tx[x].frac;
      const float* a = r0 + tx[x].lo * c;
      const float* b = r0 + tx[x].hi * c;
      const float* d = r1 + tx[x].lo * c;
      const float* e = r1 + tx[x].hi * c;
      float* dst = out + (static_cast<long long>(y) * os.w + x) * c;
      for (int k = 0; k < c; ++k) {
        const float top = a[k] + (b[k] - a[k]) * fx;
        const float bottom = d[k] + (e[k] - d[k]) * fx;
        dst[k] = top + (bottom - top) * fy;
      }
    }
  }
}

float halfToFloat(uint16_t h) {
  const uint32_t sign = static_cast<uint32_t>(h & 0x8000) << 16;
  uint32_t exponent = (h >> 10) & 0x1f;
  uint32_t mantissa = h & 0x3ff;
  uint32_t bits;
  if (exponent == 0x1f) {
    bits = sign | 0x7f800000 | (mantissa << 13);  // infinity or NaN
  } else if (exponent != 0) {
    bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
  } else if (mantissa == 0) {
    bits = sign;
  } else {
    // Subnormal: shift until the leading one becomes the implicit bit.
    exponent = 113;
    while ((mantissa & 0x400) == 0) {
      mantissa <<= 1;
      --exponent;
    }
    bits = sign | (exponent << 23) | ((mantissa & 0x3ff) << 13);
  }
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

}  // namespace tavolu::segment
