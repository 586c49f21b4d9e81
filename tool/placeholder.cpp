void vrek_placeholder() {}
