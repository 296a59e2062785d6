~DGR:R.GRF,2,1,zzzzzzzzzzzzzzzzzzzzF
