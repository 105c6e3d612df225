// SelectBlend: run-time settings to one kernel instantiation. Included by
// RiRerEziDrawFunction.h only.

namespace blendselect {

// Walks the bits of Remaining, lowest first, taking each into Flags when the
// run-time flags hold it.
template <int Bits, int Mode, unsigned Flags, unsigned Remaining, typename V>
struct FlagWalk {
  static bool Go(unsigned flags, V& v) {
    constexpr unsigned bit = Remaining & (~Remaining + 1u);
    if (flags & bit) return FlagWalk<Bits, Mode, Flags | bit, Remaining & ~bit, V>::Go(flags, v);
    return FlagWalk<Bits, Mode, Flags, Remaining & ~bit, V>::Go(flags, v);
  }
};
template <int Bits, int Mode, unsigned Flags, typename V>
struct FlagWalk<Bits, Mode, Flags, 0u, V> {
  static bool Go(unsigned, V& v) {
    v.template Run<Bits, Mode, Flags>();
    return true;
  }
};

template <int Bits, unsigned Allowed, unsigned Fixed, typename V>
bool ByMode(const BlendSelection& sel, V& v) {
  // The loop forms exist only white, unmasked, for sources without alpha.
  constexpr unsigned kOpAllowed = Allowed & (BK_TRANS | BK_PAL);
  unsigned flags = sel.flags & ~Fixed;
  switch (sel.mode) {
    case 0: return FlagWalk<Bits, 0, Fixed, Allowed, V>::Go(flags, v);
    case 1: return FlagWalk<Bits, 1, Fixed, Allowed, V>::Go(flags, v);
    case 2: return FlagWalk<Bits, 2, Fixed, Allowed, V>::Go(flags, v);
    case 3: return FlagWalk<Bits, 3, Fixed, Allowed, V>::Go(flags, v);
    case 4: return FlagWalk<Bits, 4, Fixed, Allowed, V>::Go(flags, v);
    case 10: return FlagWalk<Bits, 10, Fixed, Allowed, V>::Go(flags, v);
    case 11: return FlagWalk<Bits, 11, Fixed, Allowed, V>::Go(flags, v);
    default: break;
  }
  if (flags & ~kOpAllowed) return false;
  switch (sel.mode) {
    case BLEND_OP_HALF: return FlagWalk<Bits, BLEND_OP_HALF, Fixed, kOpAllowed, V>::Go(flags, v);
    case BLEND_OP_ADD255: return FlagWalk<Bits, BLEND_OP_ADD255, Fixed, kOpAllowed, V>::Go(flags, v);
    case BLEND_OP_SUB255: return FlagWalk<Bits, BLEND_OP_SUB255, Fixed, kOpAllowed, V>::Go(flags, v);
    default: break;
  }
  if (Bits != 32) return false;
  switch (sel.mode) {
    case BLEND_OP_ADD255_MMX: return FlagWalk<32, BLEND_OP_ADD255_MMX, Fixed, kOpAllowed, V>::Go(flags, v);
    case BLEND_OP_SUB255_MMX: return FlagWalk<32, BLEND_OP_SUB255_MMX, Fixed, kOpAllowed, V>::Go(flags, v);
    default: return false;
  }
}

}  // namespace blendselect

// Allowed: the BK_* bits the caller may set at run time (each doubles the
// instantiations); Fixed: bits always set. Bits outside both are ignored.
template <unsigned Allowed, unsigned Fixed, typename Visitor>
bool SelectBlend(const BlendSelection& sel, Visitor& visitor) {
  constexpr unsigned kAllowed = Allowed & ~Fixed;
  if (sel.bits == 32) return blendselect::ByMode<32, kAllowed, Fixed>(sel, visitor);
  if (sel.bits == 16) return blendselect::ByMode<16, kAllowed, Fixed>(sel, visitor);
  return false;
}
