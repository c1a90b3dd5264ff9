* Mach-Zehnder interferometer with a longer upper arm, as a schematic tool exports it.
* Instance lines list their nets in port order, then the component. Comments after
* an instance carry its placement: location=(x,y,rotation)(anchor port).

.subckt delay_arm a b length=10u
Xwg a n1 straight length='length' $ location=(0,0,0)
Xbend n1 b bend_euler radius=5u
+ angle=90 $ location=(10,0,90)(o1)
.ends delay_arm

.subckt mzi in out delta=20u
Xsplit in top bot mmi1x2 $ location=(0,0,0)(o1)
Xtop top t2 delay_arm length='delta' $ location=(30,10,0)
Xbot bot b2 straight length=10u width=0.5u $ location=(30,-10,0)
Xcomb t2 b2 out mmi2x2 $ location=(90,0,0)(o1)
.ends mzi
