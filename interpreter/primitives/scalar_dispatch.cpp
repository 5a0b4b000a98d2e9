#include "interpreter/primitives/scalar_dispatch.h"

#include <cstring>

#include "interpreter/primitives/args.h"
#include "interpreter/workspace/entry.h"
#include "interpreter/workspace/errors.h"
#include "interpreter/primitives/circle.h"
#include "interpreter/primitives/kernels_arith.h"
#include "interpreter/primitives/kernels_compare.h"
#include "interpreter/primitives/kernels_transcendental.h"
#include "interpreter/primitives/scalar_codes.h"
#include "interpreter/primitives/scalar_kernels.h"

namespace zema {

namespace {

Extended80 reg(std::uint32_t at, Ws ws) { return desc_reg(at, ws); }

// Clears the bits after the last element of a boolean result, which the
// word-wise kernels leave as the operation made them.
void trim_bits(std::uint32_t count, Ws ws) {
  if (count % 32 == 0) return;
  std::uint8_t* last = ws + desc_array(hdr::ResultDesc, ws) + rd32(ws, hdr::ResultDesc + desc::First) + 4 * (count / 32);
  std::uint32_t w;
  std::memcpy(&w, last, 4);
  w &= ~(0xFFFFFFFFu >> (count % 32));
  std::memcpy(last, &w, 4);
}

// Stores Z after a general-path element: 0 go on, 4 done, 8 overflow. An
// integer result takes only integers: the conversion would take any
// magnitude below 2*¯46 as 0, but a non-zero value there (*¯40, 2*¯50) is a
// fraction, and the result is rebuilt as float.
int store_z(const Extended80& z, Ws ws) {
  if (!z.is_zero() && xexp(z) < -46 && rd8(ws, hdr::ResultDesc + desc::Type) == ET_INT) return 8;
  set_desc_reg(hdr::ResultDesc, z, ws);
  return stuff_value(ws);
}

int general_dyadic(Ws ws) {
  const std::uint8_t code = prim_code(ws);
  const RegDyadic f = slow_dyadic(code);
  if (!f) ZEMA_SYSTEM_ERROR(ws);
  const std::uint8_t lt = rd8(ws, hdr::LeftDesc + desc::Type), rt = rd8(ws, hdr::RightDesc + desc::Type);
  for (std::uint32_t i = 0;; ++i) {
    xopftc(hdr::LeftDesc, ws);
    xopftc(hdr::RightDesc, ws);
    const int s = store_z(f(RegArgs{reg(hdr::LeftDesc, ws), reg(hdr::RightDesc, ws), lt, rt}, ws), ws);
    if (s == 4) return 0;
    if (s != 0) return 4;
    if (((i + 1) & 0xFFFF) == 0) check_attention(ws);
  }
}

int general_monadic(Ws ws) {
  const std::uint8_t code = prim_code(ws);
  const RegMonadic f = slow_monadic(code);
  if (!f) ZEMA_SYSTEM_ERROR(ws);
  const std::uint8_t rt = rd8(ws, hdr::RightDesc + desc::Type);
  for (std::uint32_t i = 0;; ++i) {
    xopftc(hdr::RightDesc, ws);
    const int s = store_z(f(RegArgs{Extended80{}, reg(hdr::RightDesc, ws), 0, rt}, ws), ws);
    if (s == 4) return 0;
    if (s != 0) return 4;
    if (((i + 1) & 0xFFFF) == 0) check_attention(ws);
  }
}

}  // namespace

RegDyadic slow_dyadic(std::uint8_t code) {
  switch (code) {
    case pc::Star: return stard;
    case pc::Minus: return minusd_r;
    case pc::Plus: return plusd_r;
    case pc::Divide: return divdd_r;
    case pc::Eq: return equalo;
    case pc::Stile: return resd;
    case pc::Fill: return sfillo;
    case pc::Times: return multd_r;
    case pc::Or: return oro;
    case pc::Nand: return nando;
    case pc::And: return ando;
    case pc::Nor: return noro;
    case pc::Ge: return gteo;
    case pc::Lt: return lto;
    case pc::Gt: return gto;
    case pc::Le: return lteo;
    case pc::Ceiling: return maxd;
    case pc::Floor: return mind;
    case pc::Log: return logd;
    case pc::Shriek: return bc;
    case pc::Circle: return circld;
    case pc::Ne: return nequalo;
    default: return nullptr;
  }
}

RegMonadic slow_monadic(std::uint8_t code) {
  switch (code) {
    case pc::Star: return star_4r;
    case pc::Minus: return minusm;
    case pc::Plus: return rtoz;
    case pc::Divide: return divd_4r;
    case pc::Stile: return resm;
    case pc::Fill: return sfillo;
    case pc::Times: return multm;
    case pc::Ceiling: return maxm;
    case pc::Floor: return minm;
    case pc::Log: return log_4r;
    case pc::Shriek: return fact_4;
    case pc::Circle: return circlm;
    case pc::Tilde: return noto;
    case pc::Query: return slow_roll;
    default: return nullptr;
  }
}

int xdy_scalar(Ws ws) {
  const ArgDescriptor l = load_desc(hdr::LeftDesc, ws);
  const ArgDescriptor r = load_desc(hdr::RightDesc, ws);
  if ((l.shape | r.shape) & kShapeEmpty) return 0;
  if (!(rd8(ws, hdr::ResultBits) & rbits::SlowArgs)) {
    const std::uint8_t zt = rd8(ws, hdr::ResultDesc + desc::Type);
    const DyKernel k = select_dyadic(r.type, l.type, zt);
    if (k != DyKernel::None) {
      const std::uint32_t count = rd32(ws, hdr::ResultDesc + desc::Count);
      const DyadicCall c{((call_flags(ws) & 0xFFFF) << 16) | (std::uint32_t(l.shape) << 8) | r.shape,
                         prim_code(ws),
                         desc_cursor(hdr::ResultDesc, ws),
                         desc_cursor(hdr::LeftDesc, ws),
                         desc_cursor(hdr::RightDesc, ws),
                         l.step,
                         r.step,
                         count,
                         l.type,
                         r.type,
                         ws};
      const int answer = run_dyadic(k, c);
      if (answer != -1) {
        if (answer == 0 && zt == ET_BOOL) trim_bits(count, ws);
        return answer;
      }
    }
  }
  return general_dyadic(ws);
}

int xmn_scalar(Ws ws) {
  const ArgDescriptor r = load_desc(hdr::RightDesc, ws);
  if (r.shape & kShapeEmpty) return 0;
  const std::uint8_t zt = rd8(ws, hdr::ResultDesc + desc::Type);
  const MnKernel k = select_monadic(r.type, zt);
  if (k != MnKernel::None) {
    const std::uint32_t count = rd32(ws, hdr::ResultDesc + desc::Count);
    const MonadicCall c{prim_code(ws), r.type, desc_cursor(hdr::ResultDesc, ws), desc_cursor(hdr::RightDesc, ws),
                        r.step, count, ws};
    const int answer = run_monadic(k, c);
    if (answer != -1) {
      if (answer == 0 && zt == ET_BOOL) trim_bits(count, ws);
      return answer;
    }
  }
  return general_monadic(ws);
}

}  // namespace zema
