// Media probe: see AVProbe.h.
