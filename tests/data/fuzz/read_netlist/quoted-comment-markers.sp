.subckt t a b
X1 a b s w='2*3' s="a$b" $ location=(1,2,3)(o1)
.ends
