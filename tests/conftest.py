# Puts tests/ on the import path for the shared helpers (craft.py).
