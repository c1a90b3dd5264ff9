.subckt t a b
X1 a b y v={1,[2,{3}]} w='2**63'
.ends
