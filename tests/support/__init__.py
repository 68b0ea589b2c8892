"""Test support: the private MariaDB server, the read-back connection and the recording pool."""
