int kovra_placeholder() { return 1; }
