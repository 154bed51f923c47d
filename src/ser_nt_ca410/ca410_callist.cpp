// placeholder: filled in by the calibration work
