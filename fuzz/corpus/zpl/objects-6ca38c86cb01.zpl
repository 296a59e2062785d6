~DGR:C.GRF,4,2,A:ab
