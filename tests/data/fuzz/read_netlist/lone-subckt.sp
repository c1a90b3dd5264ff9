+
+ +
.subckt
