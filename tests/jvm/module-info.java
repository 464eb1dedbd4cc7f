/** The drivers as a named module: a caller that alone is granted native access. */
module org.movrek.filesystem.tests {
    requires org.movrek.nativeflush;
}
