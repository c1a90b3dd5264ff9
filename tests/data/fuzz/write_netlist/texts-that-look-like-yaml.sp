.subckt t a b
X1 a b y v="" w="true" n="null" k="- x: y" u=" "
.ends
