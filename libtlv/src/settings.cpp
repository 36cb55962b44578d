// libtlv: product settings (filled in by the settings work).
