.subckt t a
R1 a b 1 2
.ends
