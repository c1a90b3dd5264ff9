* Ports come from the kit in canonical order: "in" names first, digit runs by value.
.subckt chip a b c d
X1 a b c d ring
X2 e f wg_pad
X3 e f g pad
.ends
