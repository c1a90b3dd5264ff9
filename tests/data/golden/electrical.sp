* An amplifier stage of two-terminal elements and a controlled source, used by a top cell.
.global gnd
.subckt amp in out gnd gain=10
R1 in mid 50
C1 mid gnd 2p
E1 out gnd ctl gnd vcvs gain='gain'
.ends amp

.subckt top a b
X1 a n amp gain=20
+ extra='2*3'
X2 n b m q foo * an unknown part: its ports are named by position
.ends top
