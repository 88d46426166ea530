// One line per command: ZLV_COMMAND(name, function, usage). No include guard: included twice.
ZLV_COMMAND("version", VersionCommand, "version")
ZLV_COMMAND("fetch", FetchCommand, "fetch [--url ADDRESS] [--out FILE.pdb] [--rates FILE]")
ZLV_COMMAND("pdb", PdbCommand, "pdb FILE | pdb --from-rates RATES_FILE OUT.pdb")
ZLV_COMMAND("rates", RatesCommand, "rates RESPONSE_FILE OUT_FILE [--time T]")
ZLV_COMMAND("dump", DumpCommand, "dump RATES_FILE")
ZLV_COMMAND("gif", GifCommand, "gif FILE")
